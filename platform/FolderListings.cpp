#include "platform/FolderListings.h"

#include <algorithm>
#include <unordered_map>

#include "platform/FolderTree.h"
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

// A cache, and nothing more: what it holds is checked against the folder
// before each use.
std::unordered_map<std::string, Listing>& Listings() {
    static std::unordered_map<std::string, Listing> listings;
    return listings;
}

void Index(Listing& listing, const std::string& name) {
    auto [it, inserted] = listing.byUpper.emplace(ToUpperText(name), name);
    if (!inserted && CompareNames(name, it->second) < 0) it->second = name;
}

// A folder as a listing knows it: by path, or held.
struct FolderKey {
    const std::string& path;
    const HeldFolder* held;

    std::optional<sys::FolderStamp> Stamp() const {
        return held != nullptr ? sys::StampFolder(*held) : sys::StampFolder(path);
    }
    bool Read(std::vector<DirEntry>& entries) const {
        return held != nullptr ? sys::ReadFolder(*held, entries) : sys::ReadFolder(path, entries);
    }
};

// The current listing of `folder`, read afresh when it changed.
Listing* Current(const FolderKey& folder) {
    const std::optional<sys::FolderStamp> stamp = folder.Stamp();
    if (!stamp) return nullptr;
    auto& listings = Listings();
    if (const auto found = listings.find(folder.path); found != listings.end() && found->second.stamp == *stamp) {
        return &found->second;
    }
    Listing listing;
    listing.stamp = *stamp;
    if (!folder.Read(listing.entries)) return nullptr;
    std::sort(listing.entries.begin(), listing.entries.end(),
              [](const DirEntry& a, const DirEntry& b) { return CompareNames(a.name, b.name) < 0; });
    for (const DirEntry& entry : listing.entries) Index(listing, entry.name);
    if (listings.size() >= kMaxListings) listings.clear();
    return &(listings[folder.path] = std::move(listing));
}

bool IsCurrent(const FolderKey& folder) {
    auto& listings = Listings();
    const auto found = listings.find(folder.path);
    return found != listings.end() && folder.Stamp() == found->second.stamp;
}

// Takes the kept listing of `folder` past changes this program made (its new
// time stamp), or drops it when it was not current before them.
Listing* Restamp(const FolderKey& folder, bool wasCurrent) {
    auto& listings = Listings();
    const auto found = listings.find(folder.path);
    if (found == listings.end()) return nullptr;
    const std::optional<sys::FolderStamp> stamp = wasCurrent ? folder.Stamp() : std::nullopt;
    if (!stamp) {
        listings.erase(found);  // changed by someone else too: read it afresh next time
        return nullptr;
    }
    found->second.stamp = *stamp;
    return &found->second;
}

std::optional<std::string> LookUp(const FolderKey& folder, std::string_view name) {
    const Listing* listing = Current(folder);
    if (listing == nullptr) return std::nullopt;
    const auto found = listing->byUpper.find(ToUpperText(name));
    return found == listing->byUpper.end() ? std::string() : found->second;
}

}  // namespace

const std::vector<DirEntry>* List(const std::string& folder) {
    const Listing* listing = Current({folder, nullptr});
    return listing == nullptr ? nullptr : &listing->entries;
}

const std::vector<DirEntry>* List(const HeldFolder& folder) {
    const Listing* listing = Current({folder.Path(), &folder});
    return listing == nullptr ? nullptr : &listing->entries;
}

std::string FindNameIgnoringCase(const std::string& folder, std::string_view name) {
    return LookUpNameIgnoringCase(folder, name).value_or(std::string());
}

std::optional<std::string> LookUpNameIgnoringCase(const std::string& folder, std::string_view name) {
    return LookUp({folder, nullptr}, name);
}

std::optional<std::string> LookUpNameIgnoringCase(const HeldFolder& folder, std::string_view name) {
    return LookUp({folder.Path(), &folder}, name);
}

ChangeBatch::~ChangeBatch() {
    Settle();
}

void ChangeBatch::Settle() {
    if (m_changed) Restamp({m_folder, m_held}, m_wasCurrent);
    m_folder.clear();
    m_held = nullptr;
    m_changed = false;
}

FolderChange::FolderChange(std::string folder, ChangeBatch* batch) : m_folder(std::move(folder)), m_batch(batch) {
    Begin();
}

FolderChange::FolderChange(const HeldFolder& folder, ChangeBatch* batch)
    : m_folder(folder.Path()), m_held(&folder), m_batch(batch) {
    Begin();
}

void FolderChange::Begin() {
    if (m_batch == nullptr) {
        m_wasCurrent = IsCurrent({m_folder, m_held});
        return;
    }
    ChangeBatch& batch = *m_batch;
    if (batch.m_folder != m_folder || batch.m_folder.empty()) {
        batch.Settle();
        batch.m_folder = m_folder;
        batch.m_held = m_held;
        batch.m_wasCurrent = IsCurrent({m_folder, m_held});
    }
    m_wasCurrent = batch.m_wasCurrent;
}

void FolderChange::Forget() {
    Listings().erase(m_folder);
}

Listing* FolderChange::Restamped() {
    if (m_batch == nullptr || m_batch->m_folder != m_folder) return Restamp({m_folder, m_held}, m_wasCurrent);
    // Looked at once the batch moves on from the folder.
    m_batch->m_changed = true;
    auto& listings = Listings();
    const auto found = listings.find(m_folder);
    if (found == listings.end()) return nullptr;
    if (!m_batch->m_wasCurrent) {
        listings.erase(found);
        return nullptr;
    }
    return &found->second;
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
