#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "catalogues/Catalogues.h"
#include "platform/FileSystem.h"
#include "platform/FolderTree.h"

// The VOD catalogue of a run, indexed by lower-cased video title. Only where
// each entry starts is held; a lookup reads its line again from the file,
// kept open for that. The VOD job reloads it in every folder it enters; an
// unchanged file keeps the index it gave.
class VodInfoLookup {
public:
    // Makes the catalogue that of "VOD info.txt" in `installFolder` as it is
    // now; a file that is missing or cannot be read leaves it empty.
    void LoadVodCatalogue(const std::string& installFolder);
    // The first entry whose title, lower-cased, equals `title` lower-cased;
    // null when there is none (or its line cannot be read again). Valid until
    // the next load.
    const VodInfoEntry* FindVodInfo(const std::string& title) const;

    // One place per entry of the file.
    const std::vector<CatalogueEntryPlace>& Entries() const { return m_entries; }

private:
    platform::ReadableFile m_file;
    std::vector<CatalogueEntryPlace> m_entries;  // by key hash, then in file order
    std::uint64_t m_firstEntry = 0;              // where the first entry starts (its fields are trimmed)
    // The entries found since the load, by offset: a video looked up again
    // gets the same entry, and the table grows with the lookups, not the file.
    mutable std::unordered_map<std::uint64_t, std::unique_ptr<VodInfoEntry>> m_found;
    // The file as last indexed: a reload of an unchanged file keeps the index.
    std::optional<platform::FileStamp> m_stamp;
};
