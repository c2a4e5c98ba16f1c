#include "platform/FolderTree.h"

#include <algorithm>
#include <deque>
#include <utility>

#include "platform/FolderListings.h"
#include "platform/System.h"
#include "platform/Text.h"

namespace platform {
namespace {

// Folders kept for the next paths below them: the bundle in hand and its
// neighbours; each costs a descriptor.
constexpr std::size_t kKeptFolders = 96;
// As many links as the kernel follows on one path.
constexpr int kMaxLinks = 40;

std::deque<std::string> SplitNames(std::string_view rest) {
    std::deque<std::string> names;
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view name = rest.substr(0, slash);
        if (!name.empty() && name != ".") names.emplace_back(name);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    }
    return names;
}

// Whether `path` is `folder` or below it, compared as the system compares names.
bool WithinAsSystemCompares(std::string_view path, std::string_view folder) {
    if (!sys::NamesIgnoreCase()) return IsWithin(path, folder);
    return IsWithin(ToUpperText(path), ToUpperText(folder));
}

Resolution Placed(FolderRef folder, std::string name, EntryKind kind) {
    std::string path = name.empty() ? folder->Path() : JoinPath(folder->Path(), name);
    return {Place{std::move(folder), std::move(name), std::move(path), kind}, std::nullopt, {}};
}

Resolution Failed(std::error_code ec) {
    return {std::nullopt, std::nullopt, ec};
}

// The entry `name` of `folder` in any letter case (`name` becomes its
// spelling on disk); nothing when there is none.
std::optional<sys::EntryStat> LookUp(const HeldFolder& folder, std::string& name, std::error_code& ec) {
    std::optional<sys::EntryStat> entry = sys::StatEntry(folder, name, ec);
    if (!entry && !ec) {
        if (const auto found = listings::LookUpNameIgnoringCase(folder, name); found && !found->empty()) {
            name = *found;
            entry = sys::StatEntry(folder, name, ec);
        }
    }
    if (entry && !entry->spelled.empty()) name = entry->spelled;
    return entry;
}

}  // namespace

HeldFolder::HeldFolder(std::string path, std::string realPath, FolderIdentity identity, std::intptr_t native,
                       std::shared_ptr<const HeldFolder> parent)
    : m_path(std::move(path)),
      m_realPath(std::move(realPath)),
      m_identity(identity),
      m_native(native),
      m_parent(std::move(parent)) {}

HeldFolder::~HeldFolder() {
    sys::CloseFolder(m_native);
}

FolderTree::FolderTree() = default;
FolderTree::~FolderTree() = default;

std::error_code FolderTree::ConfineTo(const std::vector<std::string>& roots) {
    m_roots.clear();
    m_recent.clear();
    m_byPath.clear();
    std::error_code first;
    for (const std::string& given : roots) {
        const std::string path = AbsolutePath(given);
        std::error_code ec;
        FolderRef folder = sys::OpenFolderAt(path, true, ec);
        if (!folder) {
            if (!first) first = ec;
            continue;
        }
        m_roots.push_back({path, ToUpperText(path), std::move(folder)});
    }
    return first;
}

const FolderTree::Root* FolderTree::RootOf(std::string_view path) const {
    const Root* best = nullptr;
    std::string upper;
    for (const Root& root : m_roots) {
        bool inside = IsWithin(path, root.path);
        if (!inside) {
            // The same folder spelt in another letter case, where upper-casing keeps the length.
            if (upper.empty()) upper = ToUpperText(path);
            inside = upper.size() == path.size() && root.upperPath.size() == root.path.size() &&
                     IsWithin(upper, root.upperPath);
        }
        if (inside && (best == nullptr || root.path.size() > best->path.size())) best = &root;
    }
    return best;
}

bool FolderTree::IsConfined(std::string_view path) const {
    return RootOf(path) != nullptr;
}

FolderRef FolderTree::Cached(const std::string& path) {
    const auto found = m_byPath.find(path);
    if (found == m_byPath.end()) return nullptr;
    m_recent.splice(m_recent.begin(), m_recent, found->second);
    return *found->second;
}

void FolderTree::Keep(const FolderRef& folder) {
    if (!folder) return;
    if (const auto found = m_byPath.find(folder->Path()); found != m_byPath.end()) {
        *found->second = folder;
        m_recent.splice(m_recent.begin(), m_recent, found->second);
        return;
    }
    m_recent.push_front(folder);
    m_byPath.emplace(folder->Path(), m_recent.begin());
    if (m_recent.size() > kKeptFolders) {
        m_byPath.erase(m_recent.back()->Path());
        m_recent.pop_back();
    }
}

Resolution FolderTree::Resolve(const std::string& path, LastLink last) {
    const std::string absolute = AbsolutePath(path);
    if (const Root* root = RootOf(absolute)) return ResolveConfined(*root, absolute, last);
    return ResolveElsewhere(absolute, last);
}

Resolution FolderTree::ResolveConfined(const Root& root, const std::string& path, LastLink last) {
    // From the nearest folder already held on the way (the root at worst).
    std::string from = path;
    FolderRef folder;
    while (from.size() > root.path.size()) {
        from = ParentPath(from);
        if (from.size() <= root.path.size()) break;
        if ((folder = Cached(from))) break;
    }
    if (!folder) {
        folder = root.folder;
        from = root.path;
    }
    std::deque<std::string> names = SplitNames(std::string_view(path).substr(std::min(from.size(), path.size())));
    int links = 0;
    std::optional<Place> linkItself;  // the link at the end that is being followed, for when it dangles
    while (!names.empty()) {
        const std::string name = std::move(names.front());
        names.pop_front();
        const bool lastName = names.empty();
        if (name == "..") {
            // Only a link's target can hold one here; targets are cleaned of them below.
            return Failed(std::make_error_code(std::errc::invalid_argument));
        }
        std::error_code ec;
        std::string actual = name;
        std::optional<sys::EntryStat> entry = LookUp(*folder, actual, ec);
        if (ec) return Failed(ec);
        if (!entry) {
            if (linkItself) return {std::move(linkItself), std::nullopt, {}};  // a dangling link stays itself
            if (lastName) return Placed(folder, name, EntryKind::missing);
            return Failed(std::make_error_code(std::errc::no_such_file_or_directory));
        }
        switch (entry->kind) {
            case EntryKind::folder: {
                if (lastName) return Placed(folder, actual, EntryKind::folder);
                const std::string real =
                    folder->RealPath().empty() ? std::string() : JoinPath(folder->RealPath(), actual);
                FolderRef next = sys::OpenSubfolder(folder, actual, JoinPath(folder->Path(), actual), real, ec);
                if (!next) return Failed(ec);
                Keep(next);
                folder = std::move(next);
                continue;
            }
            case EntryKind::link: {
                if (lastName && last == LastLink::keep) return Placed(folder, actual, EntryKind::link);
                if (++links > kMaxLinks) return Failed(std::make_error_code(std::errc::too_many_symbolic_link_levels));
                const std::optional<std::string> text = sys::ReadLink(*folder, actual);
                const std::string linkPath = JoinPath(folder->Path(), actual);
                if (!text || text->empty()) return Failed(std::make_error_code(std::errc::io_error));
                // Where it leads, cleaned of "." and ".." by name: every folder
                // on the way there is a real one, so ".." is its real parent.
                const std::string target =
                    AbsolutePath(sys::RootLength(*text) > 0 ? *text : JoinPath(folder->RealPath(), *text));
                const auto into = std::find_if(m_roots.begin(), m_roots.end(), [&](const Root& r) {
                    return !r.folder->RealPath().empty() && WithinAsSystemCompares(target, r.folder->RealPath());
                });
                if (into == m_roots.end()) return {std::nullopt, LinkOut{linkPath, target}, {}};
                if (lastName) linkItself = Place{folder, actual, linkPath, EntryKind::link};
                std::deque<std::string> rest =
                    SplitNames(std::string_view(target).substr(into->folder->RealPath().size()));
                rest.insert(rest.end(), std::make_move_iterator(names.begin()), std::make_move_iterator(names.end()));
                names = std::move(rest);
                folder = into->folder;
                continue;
            }
            case EntryKind::file:
            case EntryKind::special:
            case EntryKind::missing:
                if (lastName) return Placed(folder, actual, entry->kind);
                return Failed(std::make_error_code(std::errc::not_a_directory));
        }
    }
    return Placed(folder, {}, EntryKind::folder);  // the folder the path starts at itself
}

Resolution FolderTree::ResolveElsewhere(const std::string& path, LastLink last) {
    const std::size_t root = sys::RootLength(path);
    if (path.size() <= root) {
        std::error_code ec;
        FolderRef top = sys::OpenFolderAt(path, false, ec);
        return top ? Placed(std::move(top), {}, EntryKind::folder) : Failed(ec);
    }
    const std::string parent = ParentPath(path);
    const std::string name = LastComponent(path);
    FolderRef folder = Cached(parent);
    if (!folder) {
        std::error_code ec;
        folder = sys::OpenFolderAt(parent, false, ec);
        if (!folder && ec == std::errc::no_such_file_or_directory) {
            // Missing as spelled: perhaps in another letter case.
            const std::string resolved = ResolveMissingCase(parent);
            if (resolved != parent) folder = sys::OpenFolderAt(resolved, false, ec);
        }
        if (!folder) return Failed(ec);
        Keep(folder);
    }
    std::error_code ec;
    std::string actual = name;
    std::optional<sys::EntryStat> entry = LookUp(*folder, actual, ec);
    if (ec) return Failed(ec);
    if (!entry) return Placed(std::move(folder), name, EntryKind::missing);
    if (entry->kind == EntryKind::link && last == LastLink::follow) {
        // As the system follows it: to the entry it names, when there is one.
        if (const std::optional<std::string> real = RealPath(JoinPath(folder->Path(), actual))) {
            Resolution named = ResolveElsewhere(*real, LastLink::keep);
            if (named.place && named.place->kind != EntryKind::missing) return named;
        }
    }
    return Placed(std::move(folder), actual, entry->kind);
}

FolderRef FolderTree::OpenFolder(const std::string& path, std::error_code& ec, std::optional<LinkOut>* out) {
    ec.clear();
    const std::string absolute = AbsolutePath(path);
    if (FolderRef kept = Cached(absolute)) return kept;
    if (const Root* root = RootOf(absolute); root != nullptr && absolute.size() == root->path.size()) {
        return root->folder;
    }
    Resolution resolved = Resolve(absolute, LastLink::follow);
    if (resolved.out) {
        if (out != nullptr) *out = std::move(resolved.out);
        ec = std::make_error_code(std::errc::permission_denied);
        return nullptr;
    }
    if (!resolved.place) {
        ec = resolved.error;
        return nullptr;
    }
    Place& place = *resolved.place;
    if (place.kind == EntryKind::missing) {
        ec = std::make_error_code(std::errc::no_such_file_or_directory);
        return nullptr;
    }
    if (place.kind != EntryKind::folder) {
        ec = std::make_error_code(std::errc::not_a_directory);
        return nullptr;
    }
    if (place.name.empty()) return place.folder;
    const std::string real =
        place.folder->RealPath().empty() ? std::string() : JoinPath(place.folder->RealPath(), place.name);
    FolderRef folder = sys::OpenSubfolder(place.folder, place.name, place.path, real, ec);
    Keep(folder);
    return folder;
}

FolderRef FolderTree::OpenParent(const FolderRef& child, const std::string& path, const FolderIdentity& expected) {
    if (FolderRef kept = Cached(path); kept && kept->Identity() == expected) return kept;
    std::error_code ec;
    if (child) {
        if (FolderRef up = sys::OpenParentOf(child, path, ec); up && up->Identity() == expected) {
            Keep(up);
            return up;
        }
    }
    FolderRef again = OpenFolder(path, ec);
    return again && again->Identity() == expected ? again : nullptr;
}

const std::vector<DirEntry>* ListFolder(const HeldFolder& folder, std::error_code& ec) {
    ec.clear();
    const std::vector<DirEntry>* listing = listings::List(folder);
    if (listing == nullptr) ec = sys::ListError(folder);  // ask again for the reason the listing gave none
    return listing;
}

// --- Files at a place ---

ReadableFile::ReadableFile(ReadableFile&& other) noexcept
    : m_native(std::exchange(other.m_native, kNone)), m_size(other.m_size), m_stamp(other.m_stamp) {}

ReadableFile& ReadableFile::operator=(ReadableFile&& other) noexcept {
    if (this != &other) {
        if (m_native != kNone) sys::CloseFile(m_native);
        m_native = std::exchange(other.m_native, kNone);
        m_size = other.m_size;
        m_stamp = other.m_stamp;
    }
    return *this;
}

ReadableFile::~ReadableFile() {
    if (m_native != kNone) sys::CloseFile(m_native);
}

ReadableFile ReadableFile::Open(const Place& place, std::error_code& ec) {
    ec.clear();
    ReadableFile file;
    if (!place.folder || place.name.empty()) {
        ec = std::make_error_code(place.folder ? std::errc::is_a_directory : std::errc::no_such_file_or_directory);
        return file;
    }
    file.m_native = sys::OpenRegularFile(*place.folder, place.name, file.m_size, file.m_stamp, ec);
    if (ec) file.m_native = kNone;
    return file;
}

std::error_code ReadableFile::ReadAt(std::uint64_t offset, char* buffer, std::size_t length, std::size_t& got) const {
    return sys::ReadAt(m_native, offset, buffer, length, got);
}

std::optional<std::string> ReadableFile::ReadAll(std::error_code& ec) const {
    // The size plus a little, so that a file that grows while it is read is
    // noticed without the buffer ever growing past what the file held.
    constexpr std::size_t kSlack = 4096;
    std::string bytes(static_cast<std::size_t>(m_size) + kSlack, '\0');
    std::size_t have = 0;
    while (have < bytes.size()) {
        std::size_t got = 0;
        if ((ec = ReadAt(have, bytes.data() + have, bytes.size() - have, got))) return std::nullopt;
        if (got == 0) break;
        have += got;
    }
    if (have == bytes.size()) {
        ec = std::make_error_code(std::errc::file_too_large);  // it kept growing while it was read
        return std::nullopt;
    }
    bytes.resize(have);
    return bytes;
}

std::optional<std::string> ReadFileBytes(const Place& place, std::error_code& ec) {
    const ReadableFile file = ReadableFile::Open(place, ec);
    if (!file) return std::nullopt;
    return file.ReadAll(ec);
}

std::error_code RemoveFile(const Place& place, bool* removed) {
    if (removed != nullptr) *removed = false;
    // What is there now decides, not what was there when the place was found.
    if (!place.folder) return {};
    if (place.name.empty()) return std::make_error_code(std::errc::is_a_directory);
    std::error_code ec;
    const std::optional<sys::EntryStat> entry = sys::StatEntry(*place.folder, place.name, ec);
    if (!entry) return ec;
    if (entry->kind == EntryKind::folder) return std::make_error_code(std::errc::is_a_directory);
    if (entry->kind != EntryKind::link && entry->readOnly) return std::make_error_code(std::errc::permission_denied);
    listings::FolderChange change(*place.folder);
    // Another run's file in flight is not this run's to delete.
    if (entry->kind == EntryKind::file && IsSafeReplaceTempName(place.name)) {
        bool gone = false;
        ec = sys::RemoveStaleEntry(*place.folder, place.name, gone);
        if (gone) change.Removed(place.name);
        if (removed != nullptr) *removed = gone;
        return ec;
    }
    if ((ec = sys::RemoveEntry(*place.folder, place.name))) {
        change.Forget();
        return ec == std::errc::no_such_file_or_directory ? std::error_code{} : ec;
    }
    change.Removed(place.name);
    if (removed != nullptr) *removed = true;
    return {};
}

std::error_code CreateFolder(const Place& place) {
    if (!place.folder) return std::make_error_code(std::errc::no_such_file_or_directory);
    if (place.name.empty() || place.kind == EntryKind::folder) return {};
    listings::FolderChange change(*place.folder);
    std::error_code ec = sys::MakeFolder(*place.folder, place.name);
    if (ec == std::errc::file_exists) {
        // Made by another run just now: a folder it is, as asked.
        std::error_code statError;
        const std::optional<sys::EntryStat> entry = sys::StatEntry(*place.folder, place.name, statError);
        change.Forget();
        return entry && entry->kind == EntryKind::folder ? std::error_code{} : ec;
    }
    if (ec) {
        change.Forget();
        return ec;
    }
    change.Added(place.name, true);
    return {};
}

std::error_code ClearReadOnly(const Place& place) {
    if (!place.folder || place.name.empty()) return std::make_error_code(std::errc::no_such_file_or_directory);
    return sys::AddOwnerWrite(*place.folder, place.name);
}

bool IsReadOnly(const Place& place) {
    if (!place.folder || place.name.empty()) return false;
    std::error_code ec;
    const std::optional<sys::EntryStat> entry = sys::StatEntry(*place.folder, place.name, ec);
    return entry && entry->readOnly;
}

}  // namespace platform
