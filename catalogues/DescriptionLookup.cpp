#include "catalogues/DescriptionLookup.h"

#include <algorithm>

#include "catalogues/DescriptionCatalogue.h"
#include "catalogues/LineReader.h"

void DescriptionLookup::LoadDescriptionCatalogue(const std::string& installFolder) {
    m_entries.clear();
    std::error_code ec;
    // Closed first: on Windows a file deleted while open is still there until then.
    m_file = platform::ReadableFile();
    m_file = OpenForReading(installFolder + "/HTML course descriptions.txt", ec);
    if (!m_file) return;
    LineReader lines(ReadFrom(m_file));
    std::string_view line;
    while (lines.Next(line)) {
        const std::uint64_t offset = lines.LineOffset();
        if (const auto entry = ParseDescriptionLine(line, offset == 0)) {
            m_entries.push_back({HashCatalogueKey(entry->courseKey), offset});
        }
    }
    if (lines.Error()) {
        m_entries.clear();
        m_file = platform::ReadableFile();
        return;
    }
    SortCatalogueIndex(m_entries);
}

std::optional<std::string> DescriptionLookup::FindCourseDescription(const std::string& key) const {
    const std::string lowered = platform::ToLowerText(key);
    std::optional<std::string> found;
    VisitCatalogueCandidates(m_entries, key, [&](std::uint64_t offset) {
        LineReader lines(ReadFrom(m_file), offset, 4096);
        std::string_view line;
        if (!lines.Next(line)) return false;
        auto entry = ParseDescriptionLine(line, offset == 0);
        if (!entry || platform::ToLowerText(entry->courseKey) != lowered) return false;
        found = std::move(entry->htmlDescription);
        return true;
    });
    return found;
}
