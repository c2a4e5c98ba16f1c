#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/Text.h"

struct DescriptionEntry {
    std::string courseKey;
    std::string htmlDescription;
};

struct VodInfoEntry {
    std::string vodKey;
    std::string productCode;
    std::string courseTitle;
    std::string htmlDescription;
};

using DescriptionCatalogue = std::vector<DescriptionEntry>;
using VodCatalogue = std::vector<VodInfoEntry>;

// Lower-cased key -> index of the first entry with that key: a key written
// again by a later conversion stays hidden behind the first line.
template <typename Entry>
std::unordered_map<std::string, std::size_t> IndexFirstEntries(const std::vector<Entry>& entries,
                                                               std::string Entry::*key) {
    std::unordered_map<std::string, std::size_t> index;
    for (std::size_t i = 0; i < entries.size(); ++i) index.emplace(platform::ToLowerText(entries[i].*key), i);
    return index;
}
