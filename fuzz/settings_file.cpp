#include "FuzzTarget.h"
#include "bundle/SettingsFile.h"
#include "platform/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const SettingsLines read = ReadSettingsLines(AsText(data, size));
    for (const std::string& line : read.lines) {
        FUZZ_CHECK(!line.empty() && line.find('\n') == std::string::npos && line.find('\r') == std::string::npos);
        for (const char* name : {"WebTitle", "Language", "ProductCode", "Description"}) {
            const std::string value = ElementValue(line, name);
            FUZZ_CHECK(value.size() <= line.size());
        }
    }
    if (read.isUtf8 && read.header) FUZZ_CHECK(platform::IsValidUtf8(*read.header));
    // The look a buffer at a time that comes before a rewrite agrees.
    const SettingsFileCheck check = CheckSettingsFile(ReadFrom(AsText(data, size)), 3);
    FUZZ_CHECK(check.isUtf8 == read.isUtf8 && check.hasText == read.header.has_value());
    return 0;
}
