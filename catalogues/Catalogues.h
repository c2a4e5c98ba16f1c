#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
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

// Where an entry of a catalogue file starts, and the hash of its lower-cased
// key: an index of these costs 16 bytes an entry, whatever its text.
struct CatalogueEntryPlace {
    std::uint64_t keyHash;
    std::uint64_t offset;
    friend bool operator<(const CatalogueEntryPlace& a, const CatalogueEntryPlace& b) {
        return a.keyHash != b.keyHash ? a.keyHash < b.keyHash : a.offset < b.offset;
    }
};

// FNV-1a of the key lower-cased: the same on every system and in every run.
inline std::uint64_t HashCatalogueKey(std::string_view key) {
    std::uint64_t hash = 14695981039346656037u;
    for (const char c : platform::ToLowerText(key)) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211u;
    }
    return hash;
}

// Orders an index for lookups: by hash, entries of one hash in file order.
inline void SortCatalogueIndex(std::vector<CatalogueEntryPlace>& places) {
    std::sort(places.begin(), places.end());
}

// Hands `visit` the offset of each entry whose key may be `key`, in
// file order, until it returns true (it read the entry and the key matched):
// keys that share a hash are told apart by reading them.
template <typename Visit>
void VisitCatalogueCandidates(const std::vector<CatalogueEntryPlace>& places, std::string_view key, Visit&& visit) {
    const std::uint64_t hash = HashCatalogueKey(key);
    auto it = std::lower_bound(places.begin(), places.end(), CatalogueEntryPlace{hash, 0});
    for (; it != places.end() && it->keyHash == hash; ++it) {
        if (visit(it->offset)) return;
    }
}
