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
    // Every field reads back as a value its NAME=VALUE pair would accept.
    for (const SettingsField& field : SettingsFields()) {
        SettingsControls again;
        FUZZ_CHECK(ApplySettingsPair(again, field.name, FieldValueText(settings, field)).empty());
    }
    return 0;
}
