#include "catalogues/VodInfoLookup.h"

#include "catalogues/VodCatalogueParser.h"

void VodInfoLookup::LoadVodCatalogue(const std::string& installFolder) {
    const std::string path = installFolder + "/VOD info.txt";
    // Same size, time stamp and inode: the table already holds what the file says.
    const std::optional<platform::FileStamp> stamp = platform::ReadableFileStamp(path);
    if (stamp && m_stamp && *stamp == *m_stamp) return;
    m_entries.clear();
    m_index.clear();
    m_stamp.reset();
    const auto bytes = platform::ReadFileBytes(path);
    if (!bytes) return;  // no catalogue: every video gets the defaults
    // A file that changed while it was read is read again next time.
    if (stamp && platform::ReadableFileStamp(path) == stamp) m_stamp = stamp;
    m_entries = ParseVodCatalogue(*bytes);
    m_index = IndexFirstEntries(m_entries, &VodInfoEntry::vodKey);
}

const VodInfoEntry* VodInfoLookup::FindVodInfo(const std::string& title) const {
    const auto found = m_index.find(platform::ToLowerText(title));
    return found == m_index.end() ? nullptr : &m_entries[found->second];
}
