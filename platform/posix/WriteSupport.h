#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/UniqueFd.h"

// Pieces shared by the ways platform/ writes files. Internal to platform/.
namespace platform::write {

// errno as an error code.
[[nodiscard]] std::error_code LastError();

// A time as the stat structures give it, in nanoseconds since the epoch, and back.
inline std::int64_t Nanoseconds(const struct timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}
inline struct timespec Timespec(std::int64_t nanoseconds) {
    struct timespec time {};
    time.tv_sec = static_cast<time_t>(nanoseconds / 1000000000);
    time.tv_nsec = static_cast<long>(nanoseconds % 1000000000);
    if (time.tv_nsec < 0) {
        time.tv_nsec += 1000000000;
        --time.tv_sec;
    }
    return time;
}

// Writes all of `bytes`, going on after short writes and interruptions.
[[nodiscard]] std::error_code WriteAll(int fd, std::string_view bytes);

// Copies what is left of `in` to `out`, with the kernel's copy where the file
// system has it, plain reads and writes where it has not.
[[nodiscard]] std::error_code CopyContent(int in, int out);

// The process's file-creation mask.
mode_t CurrentUmask();

// A fresh name of the form IsSafeReplaceTempName accepts.
std::string RandomTempName();

// Creates a named temporary file in the folder `dirFd` and holds an exclusive
// lock on it, so that no other run takes it for a leftover. Sets `tempName`.
UniqueFd CreateLockedTempAt(int dirFd, std::string& tempName, std::error_code& ec);
// The same in the folder `folder`; sets `tempPath`.
UniqueFd CreateLockedTemp(const std::string& folder, std::string& tempPath, std::error_code& ec);

// How OpenRegularAt treats a link at the end of the name.
enum class AtLink { follow, refuse };

// The one way a file is opened for reading: `name` in the folder `dirFd`
// (AT_FDCWD for a path), if it is a regular file; a folder gives
// is_a_directory, anything else (a device, a pipe, a link that is refused)
// FileError::notRegularFile, without blocking on it. Fills `st`.
UniqueFd OpenRegularAt(int dirFd, const char* name, AtLink link, struct stat& st, std::error_code& ec);

}  // namespace platform::write
