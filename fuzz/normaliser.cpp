#include "FuzzTarget.h"
#include "writers/NormaliseTextFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string once = NormaliseBytes(AsText(data, size));
    FUZZ_CHECK(once.find('\r') == std::string::npos);
    FUZZ_CHECK(once.size() <= size);
    if (once.empty() || static_cast<unsigned char>(once.front()) != 0xEF) FUZZ_CHECK(NormaliseBytes(once) == once);
    return 0;
}
