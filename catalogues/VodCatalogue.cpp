#include "app/QuarvelRun.h"
#include "catalogues/VodCatalogueParser.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

void QuarvelRun::LoadVodCatalogue() {
    std::optional<std::string> bytes = platform::ReadFileBytes(GetInstallFolder() + "/VOD info.txt");
    // The VOD job reloads the catalogue in every folder it enters; reading is
    // cheap, parsing and indexing a large catalogue again is not. Comparing
    // the bytes (not size and time stamp) also sees a rewrite within the
    // file system's time stamp granularity.
    if (bytes && m_vodCatalogueBytes && *bytes == *m_vodCatalogueBytes) return;
    vodCatalogue.clear();
    m_vodIndex.clear();
    m_vodCatalogueBytes = std::move(bytes);
    if (!m_vodCatalogueBytes) return;  // no catalogue: every video gets the defaults
    vodCatalogue = ParseVodCatalogue(*m_vodCatalogueBytes);
    m_vodIndex = IndexFirstEntries(vodCatalogue, &VodInfoEntry::vodKey);
}

const VodInfoEntry* QuarvelRun::FindVodInfo(const std::string& title) const {
    const auto found = m_vodIndex.find(platform::ToLowerText(title));
    return found == m_vodIndex.end() ? nullptr : &vodCatalogue[found->second];
}
