#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/FolderTree.h"

// What the operating system itself answers, one source per system (posix/,
// win32/); the logic on top of it (case resolution, wildcards, name order,
// path text) is shared. Paths here are the program's own "/" paths. Internal
// to platform/.
namespace platform::sys {

// How many leading characters of `path` name its root, the root's last "/"
// included ("/" on POSIX; "C:/" or "//server/share/" on Windows); 0 for a
// relative path.
std::size_t RootLength(std::string_view path);

// `path` as an absolute path in the program's spelling ("/" between names),
// not yet cleaned of "." and "..".
std::string AbsoluteSpelling(const std::string& path);

// `path` as the system's own programs spell it to the user.
std::string NativeSpelling(const std::string& path);
// A path the user or the system spelt natively, in the program's spelling.
std::string ProgramSpelling(const std::string& path);

// What is at `path`, a link at its end not followed; nothing when missing.
std::optional<EntryKind> LookAt(const std::string& path);

// Why `folder` cannot be listed.
std::error_code ListError(const std::string& folder);

// What tells a folder's kept listing from a changed one.
struct FolderStamp {
    std::uint64_t device = 0;
    std::uint64_t index = 0;
    std::int64_t modified = 0;  // last-write time in the system's finest unit
    bool operator==(const FolderStamp&) const = default;
};
std::optional<FolderStamp> StampFolder(const std::string& folder);

// The entries of `folder` but "." and "..", in the system's order; false
// when it cannot be listed.
bool ReadFolder(const std::string& folder, std::vector<DirEntry>& entries);

// Whether the system finds names regardless of letter case (real paths then
// compare so too).
bool NamesIgnoreCase();

// --- Held folders: each call reaches its entry through the held folder alone ---

// Opens the folder at the absolute `path` as the system resolves it, links
// followed, paths of any length. `withRealPath` also finds where the system
// has it.
FolderRef OpenFolderAt(const std::string& path, bool withRealPath, std::error_code& ec);
// Opens the subfolder `name` of `folder` without following a link (a link or
// anything but a folder there now fails); `path` and `realPath` name it.
FolderRef OpenSubfolder(const FolderRef& folder, const std::string& name, std::string path, std::string realPath,
                        std::error_code& ec);
// Opens the folder that holds `folder`.
FolderRef OpenParentOf(const FolderRef& folder, std::string path, std::error_code& ec);
void CloseFolder(std::intptr_t native);

// What the entry `name` of `folder` is, a link not followed; nothing when it
// is missing (`ec` stays clear) or cannot be looked at (`ec` says why).
struct EntryStat {
    EntryKind kind = EntryKind::missing;
    bool readOnly = false;
    // Where the system finds names in any letter case itself: the name as
    // spelt on disk (empty where the name asked for is the spelling).
    std::string spelled;
};
std::optional<EntryStat> StatEntry(const HeldFolder& folder, const std::string& name, std::error_code& ec);
// Where the link `name` of `folder` leads: its text (POSIX), or the absolute
// path it resolves to (Windows). Nothing when it is no link.
std::optional<std::string> ReadLink(const HeldFolder& folder, const std::string& name);

std::optional<FolderStamp> StampFolder(const HeldFolder& folder);
bool ReadFolder(const HeldFolder& folder, std::vector<DirEntry>& entries);
std::error_code ListError(const HeldFolder& folder);

// --- Files in held folders ---

// Opens the regular file `name` of `folder` for reading (no link followed);
// fills `size` and `stamp`. A folder gives is_a_directory, anything else but
// a regular file FileError::notRegularFile.
std::intptr_t OpenRegularFile(const HeldFolder& folder, const std::string& name, std::uint64_t& size, FileStamp& stamp,
                              std::error_code& ec);
void CloseFile(std::intptr_t native);
std::error_code ReadAt(std::intptr_t file, std::uint64_t offset, char* buffer, std::size_t length, std::size_t& got);
// Deletes the entry `name` of `folder` (a link itself, never what it names).
std::error_code RemoveEntry(const HeldFolder& folder, const std::string& name);
// Deletes this program's temporary file `name` of `folder` unless a run that
// is still going holds it; `removed` says whether it went.
std::error_code RemoveStaleEntry(const HeldFolder& folder, const std::string& name, bool& removed);
// Creates the folder `name` in `folder`; as root it takes `folder`'s owner.
std::error_code MakeFolder(const HeldFolder& folder, const std::string& name);
// Adds the owner's write permission to the file `name` of `folder` (no link followed).
std::error_code AddOwnerWrite(const HeldFolder& folder, const std::string& name);

}  // namespace platform::sys
