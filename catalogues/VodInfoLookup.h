#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>

#include "catalogues/Catalogues.h"
#include "platform/FileSystem.h"

// The VOD catalogue of a run, with its entries indexed by lower-cased video
// title. The VOD job reloads it in every folder it enters; an unchanged file
// keeps the table it gave.
class VodInfoLookup {
public:
    // Makes the catalogue that of "VOD info.txt" in `installFolder` as it is
    // now; a file that is missing or cannot be read leaves it empty.
    void LoadVodCatalogue(const std::string& installFolder);
    // The first entry whose title, lower-cased, equals `title` lower-cased;
    // null when there is none. Valid until the next load.
    const VodInfoEntry* FindVodInfo(const std::string& title) const;

    const VodCatalogue& Entries() const { return m_entries; }

private:
    VodCatalogue m_entries;
    std::unordered_map<std::string, std::size_t> m_index;  // lower-cased title -> first entry with it
    // The file as last parsed: a reload of an unchanged file keeps the table.
    std::optional<platform::FileStamp> m_stamp;
};
