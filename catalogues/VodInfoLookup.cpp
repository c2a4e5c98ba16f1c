#include "catalogues/VodInfoLookup.h"

#include "catalogues/LineReader.h"
#include "catalogues/VodCatalogueParser.h"

void VodInfoLookup::LoadVodCatalogue(const std::string& installFolder) {
    const std::string path = installFolder + "/VOD info.txt";
    // Closed first: on Windows a file deleted while open is still there until then.
    m_file = platform::ReadableFile();
    std::error_code ec;
    // Same size, time stamp and inode: the index already holds what the file says.
    const std::optional<platform::FileStamp> stamp = platform::ReadableFileStamp(path);
    if (stamp && m_stamp && *stamp == *m_stamp) {
        m_file = OpenForReading(path, ec);
        if (m_file && m_file.Stamp() == *stamp) return;
    }
    m_entries.clear();
    m_found.clear();
    m_stamp.reset();
    m_file = OpenForReading(path, ec);
    if (!m_file) return;  // no catalogue: every video gets the defaults

    LineReader lines(ReadFrom(m_file));
    std::string_view line;
    while (lines.Next(line)) {
        const std::uint64_t offset = lines.LineOffset();
        const VodCatalogueLine read = ParseVodCatalogueLine(line, offset == 0, m_entries.empty());
        if (read.kind == VodCatalogueLine::Kind::end) break;
        if (read.kind != VodCatalogueLine::Kind::entry) continue;
        if (m_entries.empty()) m_firstEntry = offset;
        m_entries.push_back({HashCatalogueKey(read.entry.vodKey), offset});
    }
    if (lines.Error()) {
        m_entries.clear();
        m_file = platform::ReadableFile();
        return;
    }
    SortCatalogueIndex(m_entries);
    // A file that changed while it was read is read again next time.
    if (stamp && platform::ReadableFileStamp(path) == stamp) m_stamp = stamp;
}

const VodInfoEntry* VodInfoLookup::FindVodInfo(const std::string& title) const {
    const std::string lowered = platform::ToLowerText(title);
    const VodInfoEntry* found = nullptr;
    VisitCatalogueCandidates(m_entries, title, [&](std::uint64_t offset) {
        if (const auto known = m_found.find(offset); known != m_found.end()) {
            if (platform::ToLowerText(known->second->vodKey) != lowered) return false;
            found = known->second.get();
            return true;
        }
        LineReader lines(ReadFrom(m_file), offset, 4096);
        std::string_view line;
        if (!lines.Next(line)) return false;
        VodCatalogueLine read = ParseVodCatalogueLine(line, offset == 0, offset == m_firstEntry);
        if (read.kind != VodCatalogueLine::Kind::entry || platform::ToLowerText(read.entry.vodKey) != lowered) {
            return false;
        }
        found = m_found.emplace(offset, std::make_unique<VodInfoEntry>(std::move(read.entry))).first->second.get();
        return true;
    });
    return found;
}
