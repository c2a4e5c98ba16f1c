#include "FuzzTarget.h"
#include "catalogues/SpreadsheetParser.h"
#include "platform/Text.h"

// A spreadsheet export decoded, read into rows, and turned into catalogue lines.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = platform::Cp1252ToUtf8(AsText(data, size));
    for (const SpreadsheetRow& row : ParseSpreadsheetText(text)) {
        const std::string course = ApplyCatalogueReplacements(CourseDescriptionLine(row));
        const std::string vod = ApplyCatalogueReplacements(VodInfoLine(row));
        FUZZ_CHECK(!course.empty() && course.back() == '\n' && !vod.empty() && vod.back() == '\n');
        FUZZ_CHECK(platform::IsValidUtf8(course) && platform::IsValidUtf8(vod));
    }
    return 0;
}
