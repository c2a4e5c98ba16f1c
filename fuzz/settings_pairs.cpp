#include "FuzzTarget.h"
#include "settings/SettingsFields.h"
#include "settings/SettingsPairs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SettingsControls controls;
    const std::vector<std::string> problems = ApplySettingsText(controls, AsText(data, size), "fuzz.conf");
    const CourseSettings settings = ApplyOkRules(controls);
    FUZZ_CHECK(settings.fullScreenAtStartup == "normal" || settings.fullScreenAtStartup == "full screen");
    FUZZ_CHECK(!settings.enableReverse);
    for (const std::string& problem : problems) FUZZ_CHECK(problem.rfind("fuzz.conf:", 0) == 0);
    // Every field reads back as a value its NAME=VALUE pair would accept, or
    // as a number's default, which an empty VALUE keeps (-1 for a pass mark).
    const CourseSettings defaults;
    for (const SettingsField& field : SettingsFields()) {
        SettingsControls again;
        const std::string text = FieldValueText(settings, field);
        const bool keptDefault = field.kind == FieldKind::Number && text == FieldValueText(defaults, field);
        FUZZ_CHECK(keptDefault || ApplySettingsPair(again, field.name, text).empty());
    }
    return 0;
}
