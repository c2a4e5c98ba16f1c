#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Every fuzz target defines this; libFuzzer drives it, or the replay main
// feeds it the saved corpus.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Stops the run at once when an invariant does not hold.
#define FUZZ_CHECK(condition)               \
    do {                                    \
        if (!(condition)) __builtin_trap(); \
    } while (false)
