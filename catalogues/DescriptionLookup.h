#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>

#include "catalogues/Catalogues.h"

// The description catalogue of a run, with its entries indexed by lower-cased
// course key so that each bundle's lookup costs no scan.
class DescriptionLookup {
public:
    // Empties the catalogue and fills it from "HTML course descriptions.txt"
    // in `installFolder`; a file that is missing or cannot be read leaves it empty.
    void LoadDescriptionCatalogue(const std::string& installFolder);
    // The description of the first entry whose key, lower-cased, equals `key`
    // lower-cased; nothing when there is none.
    std::optional<std::string> FindCourseDescription(const std::string& key) const;

    const DescriptionCatalogue& Entries() const { return m_entries; }

private:
    DescriptionCatalogue m_entries;
    std::unordered_map<std::string, std::size_t> m_index;  // lower-cased key -> first entry with it
};
