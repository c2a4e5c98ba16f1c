#pragma once

#include <optional>
#include <string>
#include <vector>

#include "catalogues/Catalogues.h"
#include "platform/FolderTree.h"

// The description catalogue of a run, indexed by lower-cased course key so
// that each bundle's lookup costs no scan. Only where each entry starts is
// held; a lookup reads its line again from the file, kept open for that, so a
// catalogue of any size costs little memory.
class DescriptionLookup {
public:
    // Empties the catalogue and fills it from "HTML course descriptions.txt"
    // in `installFolder`; a file that is missing or cannot be read leaves it empty.
    void LoadDescriptionCatalogue(const std::string& installFolder);
    // The description of the first entry whose key, lower-cased, equals `key`
    // lower-cased; nothing when there is none (or its line cannot be read again).
    std::optional<std::string> FindCourseDescription(const std::string& key) const;

    // One place per entry of the file.
    const std::vector<CatalogueEntryPlace>& Entries() const { return m_entries; }

private:
    platform::ReadableFile m_file;
    std::vector<CatalogueEntryPlace> m_entries;  // by key hash, then in file order
};
