#include "FuzzTarget.h"
#include "catalogues/VodCatalogueParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (const VodInfoEntry& entry : ParseVodCatalogue(AsText(data, size))) {
        FUZZ_CHECK(entry.vodKey.find('\n') == std::string::npos &&
                   entry.htmlDescription.find('\r') == std::string::npos);
    }
    return 0;
}
