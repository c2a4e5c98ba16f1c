#include "FuzzTarget.h"
#include "catalogues/DescriptionCatalogue.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (const DescriptionEntry& entry : ParseDescriptionCatalogue(AsText(data, size))) {
        FUZZ_CHECK(!entry.htmlDescription.empty());
        FUZZ_CHECK(entry.courseKey.find('\t') == std::string::npos && entry.courseKey.find('\n') == std::string::npos);
    }
    return 0;
}
