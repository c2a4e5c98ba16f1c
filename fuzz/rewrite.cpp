#include <string>
#include <tuple>

#include "FuzzTarget.h"
#include "bundle/RewriteInterfaceXml.h"
#include "bundle/SettingsFile.h"
#include "platform/Text.h"

// The rewrite of one settings file, with options taken from the input's first byte.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t options = data[0];
    const SettingsLines read = ReadSettingsLines(AsText(data + 1, size - 1));
    if (!read.isUtf8 || !read.header) return 0;
    CourseSettings settings;
    settings.testMode = (options & 1) ? TestMode::Assessment : TestMode::Pretest;
    settings.enableHrSetting = (options & 2) != 0;
    settings.isHr = (options & 4) != 0;
    settings.updateDescriptionsFromHtml = (options & 8) != 0;
    settings.pretestPassingScore = (options & 16) ? 70 : -1;
    settings.fullScreenAtStartup = (options & 32) ? "full screen" : "normal";
    RewriteInputs inputs{settings, (options & 64) ? "abc_vid_1" : "course_adl_1", platform::LocalDate{2026, 12, 7}, {}};
    if (options & 128) {
        inputs.findDescription = [](const std::string& key) -> std::optional<std::string> {
            if (key == "course_int_1") return "<p>x</p>";
            return std::nullopt;
        };
    }
    CourseRecord record;
    const std::optional<std::string> bytes = RewriteInterfaceXml(*read.header, read.lines, inputs, record);
    FUZZ_CHECK(platform::IsValidUtf8(record.WebTitle) && platform::IsValidUtf8(record.WebDescription));
    FUZZ_CHECK(!bytes || (platform::IsValidUtf8(*bytes) && bytes->find('\r') == std::string::npos));

    // Read and written in pieces of a few bytes, the file gives the same bytes and record.
    CourseRecord inPieces;
    std::string written;
    const std::error_code ec = RewriteInterfaceXmlFrom(
        ReadFrom(AsText(data + 1, size - 1)), inputs, inPieces,
        [&written](std::string_view piece) {
            written += piece;
            return std::error_code();
        },
        5);
    FUZZ_CHECK(!ec && bytes && written == *bytes);
    FUZZ_CHECK(std::tie(inPieces.ProductCode, inPieces.WebTitle, inPieces.Subtitle, inPieces.Language,
                        inPieces.Description, inPieces.WebDescription) ==
               std::tie(record.ProductCode, record.WebTitle, record.Subtitle, record.Language, record.Description,
                        record.WebDescription));
    return 0;
}
