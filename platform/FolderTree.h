#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "platform/FileSystem.h"

namespace platform {

// A folder held open, so that what is done in it lands in this very folder
// whatever happens to the names that led to it afterwards: a folder renamed
// away and a link put in its place changes nothing. The handle is the
// system's own (a descriptor, or a handle that keeps the folder and its
// ancestors from being renamed); FolderTree makes them.
class HeldFolder {
public:
    HeldFolder(std::string path, std::string realPath, FolderIdentity identity, std::intptr_t native,
               std::shared_ptr<const HeldFolder> parent);
    ~HeldFolder();
    HeldFolder(const HeldFolder&) = delete;
    HeldFolder& operator=(const HeldFolder&) = delete;

    // How the run names the folder: the path it was reached by, each name
    // spelt as on disk.
    const std::string& Path() const { return m_path; }
    // Where the system has it, links resolved; empty where it is not known.
    const std::string& RealPath() const { return m_realPath; }
    const FolderIdentity& Identity() const { return m_identity; }
    // The descriptor (POSIX) or handle (Windows).
    std::intptr_t Native() const { return m_native; }

private:
    std::string m_path;
    std::string m_realPath;
    FolderIdentity m_identity;
    std::intptr_t m_native;
    std::shared_ptr<const HeldFolder> m_parent;  // kept open where the system needs its ancestors held
};
using FolderRef = std::shared_ptr<const HeldFolder>;

// Where a path leads: the held folder that holds its last entry, and that entry.
struct Place {
    FolderRef folder;
    std::string name;  // as spelt on disk; as given when missing
    std::string path;  // the folder's path, "/" and the name
    EntryKind kind = EntryKind::missing;
};

// A link on the way that leads out of the folders a tree is confined to.
struct LinkOut {
    std::string link;    // the link, as the run names it
    std::string target;  // where it leads
};

struct Resolution {
    std::optional<Place> place;
    std::optional<LinkOut> out;  // set when a link on the way leads out
    std::error_code error;       // why the path cannot be reached otherwise
};

// What to do with a link at the end of a path.
enum class LastLink {
    follow,  // to the entry it names, when that exists (a dangling link is the place itself)
    keep,    // the link itself
};

// Resolves paths to held folders and the names in them, looking names up
// regardless of letter case. Paths inside the folders the tree is confined to
// are reached only through those folders, component by component, with no
// name followed that the check did not see: a link is followed when its
// target stays inside them (an absolute one is mapped against their real
// paths), and one that leads out stops the resolution. Paths elsewhere are
// resolved as the system resolves them. Paths of any length work. Folders
// reached are kept open for the next paths below them, a bounded number.
class FolderTree {
public:
    FolderTree();
    ~FolderTree();
    FolderTree(const FolderTree&) = delete;
    FolderTree& operator=(const FolderTree&) = delete;

    // Confines the tree to `roots` (replacing earlier ones); a root that
    // cannot be opened confines nothing. Returns the first such failure.
    std::error_code ConfineTo(const std::vector<std::string>& roots);
    // Whether `path` lies in one of the folders the tree is confined to.
    bool IsConfined(std::string_view path) const;

    Resolution Resolve(const std::string& path, LastLink last = LastLink::follow);
    // The folder at `path`, held open; nothing with the reason (`out` for a link that leads out).
    FolderRef OpenFolder(const std::string& path, std::error_code& ec, std::optional<LinkOut>* out = nullptr);
    // The folder `path` that holds `child`, reopened through the child and
    // taken only when it is still the folder `expected` names; else resolved
    // from the top again (and checked the same way). Lets a deep walk go back
    // up without holding every folder on its way.
    FolderRef OpenParent(const FolderRef& child, const std::string& path, const FolderIdentity& expected);
    // Keeps `folder` for the paths below it.
    void Keep(const FolderRef& folder);

private:
    struct Root {
        std::string path;       // as given, made absolute
        std::string upperPath;  // upper-cased, to tell paths inside it in any letter case
        FolderRef folder;
    };
    const Root* RootOf(std::string_view path) const;
    Resolution ResolveConfined(const Root& root, const std::string& path, LastLink last);
    Resolution ResolveElsewhere(const std::string& path, LastLink last);
    FolderRef Cached(const std::string& path);

    std::vector<Root> m_roots;
    // Folders reached lately, most recent first.
    std::list<FolderRef> m_recent;
    std::unordered_map<std::string, std::list<FolderRef>::iterator> m_byPath;
};

// The entries of the held `folder` in listing order (see FindEntries);
// nothing with the reason when it cannot be listed.
const std::vector<DirEntry>* ListFolder(const HeldFolder& folder, std::error_code& ec);

// --- Files at a place ---

// Opens the regular file at `place` for reading (a folder gives
// is_a_directory, anything else FileError::notRegularFile); nothing with the
// reason. The file is read through its folder: no name on the way is looked up again.
class ReadableFile {
public:
    ReadableFile() = default;
    ReadableFile(ReadableFile&& other) noexcept;
    ReadableFile& operator=(ReadableFile&& other) noexcept;
    ~ReadableFile();
    ReadableFile(const ReadableFile&) = delete;
    ReadableFile& operator=(const ReadableFile&) = delete;

    static ReadableFile Open(const Place& place, std::error_code& ec);
    explicit operator bool() const { return m_native != kNone; }
    std::uint64_t Size() const { return m_size; }
    const FileStamp& Stamp() const { return m_stamp; }
    // Reads up to `length` bytes from `offset` into `buffer`; 0 at the end.
    [[nodiscard]] std::error_code ReadAt(std::uint64_t offset, char* buffer, std::size_t length,
                                         std::size_t& got) const;
    // Everything the file holds; a file that keeps growing while it is read gives file_too_large.
    std::optional<std::string> ReadAll(std::error_code& ec) const;
    std::intptr_t Native() const { return m_native; }

private:
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t m_native = kNone;
    std::uint64_t m_size = 0;
    FileStamp m_stamp;
};

// Whole content of the regular file at `place`.
std::optional<std::string> ReadFileBytes(const Place& place, std::error_code& ec);
// Deletes the file at `place`, as RemoveFile does; `removed`, when given,
// says whether there was one.
[[nodiscard]] std::error_code RemoveFile(const Place& place, bool* removed = nullptr);
// Creates the folder `place` names in its held folder; one that is there as a
// folder already is no error. As root, it takes the owner of the folder that holds it.
[[nodiscard]] std::error_code CreateFolder(const Place& place);
// Adds the owner's write bit to the file at `place` (no link followed).
[[nodiscard]] std::error_code ClearReadOnly(const Place& place);
bool IsReadOnly(const Place& place);

}  // namespace platform
