#include "catalogues/DescriptionLookup.h"

#include "catalogues/DescriptionCatalogue.h"
#include "platform/FileSystem.h"

void DescriptionLookup::LoadDescriptionCatalogue(const std::string& installFolder) {
    m_entries.clear();
    if (const auto bytes = platform::ReadFileBytes(installFolder + "/HTML course descriptions.txt")) {
        m_entries = ParseDescriptionCatalogue(*bytes);
    }
    m_index = IndexFirstEntries(m_entries, &DescriptionEntry::courseKey);
}

std::optional<std::string> DescriptionLookup::FindCourseDescription(const std::string& key) const {
    const auto found = m_index.find(platform::ToLowerText(key));
    if (found == m_index.end()) return std::nullopt;
    return m_entries[found->second].htmlDescription;
}
