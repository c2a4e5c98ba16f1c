#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/FileSystem.h"

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

}  // namespace platform::sys
