#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>
#include <system_error>

#include "platform/UniqueFd.h"

// Pieces shared by the ways platform/ writes files. Internal to platform/.
namespace platform::write {

// errno as an error code.
[[nodiscard]] std::error_code LastError();

// Writes all of `bytes`, going on after short writes and interruptions.
[[nodiscard]] std::error_code WriteAll(int fd, std::string_view bytes);

// Copies what is left of `in` to `out`, with the kernel's copy where the file
// system has it, plain reads and writes where it has not.
[[nodiscard]] std::error_code CopyContent(int in, int out);

// The process's file-creation mask.
mode_t CurrentUmask();

// Where a write to `path` lands: the existing entry in any letter case, and
// through a link to the file it names (a dangling link is replaced itself).
// Sets `exists` and `st` for an existing target; refuses a folder
// (is_a_directory) and a read-only file (permission_denied).
[[nodiscard]] std::error_code PrepareTarget(const std::string& path, std::string& target, struct stat& st,
                                            bool& exists);

// A fresh name of the form IsSafeReplaceTempName accepts, in `folder`.
std::string RandomTempPath(const std::string& folder);

// Creates a named temporary file in `folder` and holds an exclusive lock on
// it, so that no other run takes it for a leftover. Sets `tempPath`.
UniqueFd CreateLockedTemp(const std::string& folder, std::string& tempPath, std::error_code& ec);

// Opens `path` for reading if it is a regular file; anything else (a folder,
// a device, a pipe) is refused without blocking on it.
UniqueFd OpenRegularForReading(const std::string& path, struct stat& st, std::error_code& ec);

}  // namespace platform::write
