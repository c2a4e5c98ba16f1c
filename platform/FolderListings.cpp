#include "platform/FolderListings.h"

#include <algorithm>
#include <unordered_map>

#include "platform/System.h"
#include "platform/Text.h"

namespace platform::listings {

struct Listing {
    sys::FolderStamp stamp;
    std::vector<DirEntry> entries;                         // listing order
    std::unordered_map<std::string, std::string> byUpper;  // upper-cased name -> first such name
};

namespace {

// Enough for the template folders and the folders of the bundle in hand;
// bounded so that a run over thousands of bundles keeps flat memory.
constexpr std::size_t kMaxListings = 256;

std::unordered_map<std::string, Listing>& Listings() {
    static std::unordered_map<std::string, Listing> listings;
    return listings;
}

void Index(Listing& listing, const std::string& name) {
    auto [it, inserted] = listing.byUpper.emplace(ToUpperText(name), name);
    if (!inserted && CompareNames(name, it->second) < 0) it->second = name;
}

// The current listing of `folder`, read afresh when it changed.
Listing* Current(const std::string& folder) {
    const std::optional<sys::FolderStamp> stamp = sys::StampFolder(folder);
    if (!stamp) return nullptr;
    auto& listings = Listings();
    if (const auto found = listings.find(folder); found != listings.end() && found->second.stamp == *stamp) {
        return &found->second;
    }
    Listing listing;
    listing.stamp = *stamp;
    if (!sys::ReadFolder(folder, listing.entries)) return nullptr;
    std::sort(listing.entries.begin(), listing.entries.end(),
              [](const DirEntry& a, const DirEntry& b) { return CompareNames(a.name, b.name) < 0; });
    for (const DirEntry& entry : listing.entries) Index(listing, entry.name);
    if (listings.size() >= kMaxListings) listings.clear();
    return &(listings[folder] = std::move(listing));
}

// The folder a ChangeBatch is changing now, and whether its listing was
// current before the first of those changes.
struct OpenBatch {
    bool open = false;
    std::string folder;
    bool wasCurrent = false;
    bool changed = false;  // a change was made since the folder was looked at
};

OpenBatch& Batch() {
    static OpenBatch batch;
    return batch;
}

bool IsCurrent(const std::string& folder) {
    auto& listings = Listings();
    const auto found = listings.find(folder);
    return found != listings.end() && sys::StampFolder(folder) == found->second.stamp;
}

// Takes the kept listing of `folder` past changes this program made (its new
// time stamp), or drops it when it was not current before them.
Listing* Restamp(const std::string& folder, bool wasCurrent) {
    auto& listings = Listings();
    const auto found = listings.find(folder);
    if (found == listings.end()) return nullptr;
    const std::optional<sys::FolderStamp> stamp = wasCurrent ? sys::StampFolder(folder) : std::nullopt;
    if (!stamp) {
        listings.erase(found);  // changed by someone else too: read it afresh next time
        return nullptr;
    }
    found->second.stamp = *stamp;
    return &found->second;
}

// Ends the batch's changes to its folder.
void Settle(OpenBatch& batch) {
    if (batch.changed) Restamp(batch.folder, batch.wasCurrent);
    batch.folder.clear();
    batch.changed = false;
}

}  // namespace

const std::vector<DirEntry>* List(const std::string& folder) {
    const Listing* listing = Current(folder);
    return listing == nullptr ? nullptr : &listing->entries;
}

std::string FindNameIgnoringCase(const std::string& folder, std::string_view name) {
    return LookUpNameIgnoringCase(folder, name).value_or(std::string());
}

std::optional<std::string> LookUpNameIgnoringCase(const std::string& folder, std::string_view name) {
    const Listing* listing = Current(folder);
    if (listing == nullptr) return std::nullopt;
    const auto found = listing->byUpper.find(ToUpperText(name));
    return found == listing->byUpper.end() ? std::string() : found->second;
}

FolderChange::FolderChange(std::string folder) : m_folder(std::move(folder)) {
    OpenBatch& batch = Batch();
    if (!batch.open) {
        m_wasCurrent = IsCurrent(m_folder);
        return;
    }
    if (batch.folder != m_folder || batch.folder.empty()) {
        Settle(batch);
        batch.folder = m_folder;
        batch.wasCurrent = IsCurrent(m_folder);
    }
    m_wasCurrent = batch.wasCurrent;
}

void FolderChange::Forget() {
    Listings().erase(m_folder);
}

Listing* FolderChange::Restamped() {
    OpenBatch& batch = Batch();
    if (!batch.open || batch.folder != m_folder) return Restamp(m_folder, m_wasCurrent);
    // Looked at once the batch moves on from the folder.
    batch.changed = true;
    auto& listings = Listings();
    const auto found = listings.find(m_folder);
    if (found == listings.end()) return nullptr;
    if (!batch.wasCurrent) {
        listings.erase(found);
        return nullptr;
    }
    return &found->second;
}

ChangeBatch::ChangeBatch() {
    Batch().open = true;
}

ChangeBatch::~ChangeBatch() {
    OpenBatch& batch = Batch();
    Settle(batch);
    batch.open = false;
}

void FolderChange::Added(std::string_view name, bool isDirectory) {
    Listing* changed = Restamped();
    if (changed == nullptr) return;
    Listing& listing = *changed;
    const auto at = std::lower_bound(listing.entries.begin(), listing.entries.end(), name,
                                     [](const DirEntry& e, std::string_view n) { return CompareNames(e.name, n) < 0; });
    if (at != listing.entries.end() && at->name == name) return;
    // The system found an entry of another letter case for it (Windows does
    // so itself): that entry it is, not a second one.
    if (listing.byUpper.contains(ToUpperText(name))) return;
    listing.entries.insert(at, {std::string(name), isDirectory});
    Index(listing, std::string(name));
}

void FolderChange::Removed(std::string_view name) {
    Listing* changed = Restamped();
    if (changed == nullptr) return;
    Listing& listing = *changed;
    const std::string upper = ToUpperText(name);
    // The name as spelled, or else the entry the system took it for (Windows
    // finds names in any letter case).
    auto gone =
        std::find_if(listing.entries.begin(), listing.entries.end(), [&](const DirEntry& e) { return e.name == name; });
    if (gone == listing.entries.end()) {
        gone = std::find_if(listing.entries.begin(), listing.entries.end(),
                            [&](const DirEntry& e) { return ToUpperText(e.name) == upper; });
    }
    if (gone != listing.entries.end()) listing.entries.erase(gone);
    listing.byUpper.erase(upper);
    for (const DirEntry& entry : listing.entries) {
        if (ToUpperText(entry.name) == upper) Index(listing, entry.name);
    }
}

}  // namespace platform::listings
