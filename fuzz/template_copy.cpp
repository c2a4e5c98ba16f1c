#include "FuzzTarget.h"
#include "platform/Text.h"
#include "writers/TemplateText.h"

// A template split into lines and filled with the rules of all four writers.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> lines = SplitTemplateLines(AsText(data, size));
    const std::vector<TemplateRule> rules = {
        {"top:", "\ttop:  50%;\n"},
        {"'DorvaneID=courseID", "\t\t\t'DorvaneID=fire101'\n"},
        {"<description lang=", "\t\t<description lang=\"en-US\">x</description>\n"},
        {"LMS_SetLessonStatus", "\t\t\t\tif (args == 'failed')\n\t\t\t\t\targs = 'incomplete';\n\n", true},
    };
    const std::string page = FillTemplate(lines, rules);
    FUZZ_CHECK(platform::IsValidUtf8(page));
    FUZZ_CHECK(page.empty() || page.back() == '\n');
    return 0;
}
