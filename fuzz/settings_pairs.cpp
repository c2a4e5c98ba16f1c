#include "FuzzTarget.h"
#include "settings/SettingsPairs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SettingsControls controls;
    const std::string problem = ApplySettingsText(controls, AsText(data, size), "fuzz.conf");
    const CourseSettings settings = ApplyOkRules(controls);
    FUZZ_CHECK(settings.fullScreenAtStartup == "normal" || settings.fullScreenAtStartup == "full screen");
    FUZZ_CHECK(!settings.enableReverse);
    FUZZ_CHECK(problem.empty() || problem.rfind("fuzz.conf:", 0) == 0);
    return 0;
}
