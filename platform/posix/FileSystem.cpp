#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <tuple>

#include "platform/FileTransaction.h"
#include "platform/FolderListings.h"
#include "platform/LockedAppend.h"
#include "platform/System.h"
#include "platform/Text.h"
#include "platform/UniqueFd.h"
#include "platform/posix/WriteSupport.h"

namespace platform {
namespace {

using write::LastError;

// Opens a regular file for reading without waiting on a FIFO or device (a
// folder gives is_a_directory, anything else FileError::notRegularFile);
// fills `st`. Returns the descriptor, or -1 with the reason.
int OpenRegularFile(const std::string& path, struct stat& st, std::error_code& ec) {
    ec.clear();
    // Without blocking, so that a FIFO or a device in a bundle cannot hold the run.
    const int fd = ::open(ResolveCase(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        ec = LastError();
        return -1;
    }
    if (::fstat(fd, &st) != 0) {
        ec = LastError();
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        ec = S_ISDIR(st.st_mode) ? std::make_error_code(std::errc::is_a_directory)
                                 : MakeError(FileError::notRegularFile);
        ::close(fd);
        return -1;
    }
    // Reads go on blocking as usual: a regular file never waits for a writer.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

}  // namespace

std::optional<std::string> RealPath(const std::string& path) {
    // The kernel resolves the whole path in one pass; the C library's realpath
    // asks after every component, which costs depth squared in deep trees.
    const int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd >= 0) {
        std::string resolved(PATH_MAX, '\0');
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t n = ::readlink(self.c_str(), resolved.data(), resolved.size());
        ::close(fd);
        if (n > 0 && static_cast<std::size_t>(n) < resolved.size() && resolved.front() == '/') {
            resolved.resize(static_cast<std::size_t>(n));
            return resolved;
        }
    } else if (errno == ENOENT || errno == ENOTDIR) {
        return std::nullopt;
    }
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) return std::nullopt;
    std::string result(real);
    std::free(real);
    return result;
}

bool IsLink(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::optional<std::string> LinkTarget(const std::string& path) {
    if (!IsLink(path)) return std::nullopt;
    if (auto real = RealPath(path)) return real;
    std::string text(PATH_MAX, '\0');
    const ssize_t n = ::readlink(path.c_str(), text.data(), text.size());
    if (n < 0) return std::nullopt;
    text.resize(static_cast<std::size_t>(n));
    return AbsolutePath(text.front() == '/' ? text : JoinPath(ParentPath(path), text));
}

namespace {

EntryKind KindOf(const struct stat& st) {
    if (S_ISREG(st.st_mode)) return EntryKind::file;
    if (S_ISDIR(st.st_mode)) return EntryKind::folder;
    if (S_ISLNK(st.st_mode)) return EntryKind::link;
    return EntryKind::special;
}

}  // namespace

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(ResolveCase(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(ResolveCase(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<FolderIdentity> IdentifyFolder(const std::string& path) {
    struct stat st {};
    // A path that is there as spelled needs no case resolution.
    if (::stat(path.c_str(), &st) != 0 && ::stat(ResolveCase(path).c_str(), &st) != 0) return std::nullopt;
    if (!S_ISDIR(st.st_mode)) return std::nullopt;
    return FolderIdentity{static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)};
}

std::optional<std::string> ReadFileBytes(const std::string& path, std::error_code& ec) {
    struct stat st {};
    const int fd = OpenRegularFile(path, st, ec);
    if (fd < 0) return std::nullopt;
    // The size plus a little, so that a file that grows while it is read is
    // noticed without the buffer ever growing past what the file held.
    constexpr std::size_t kSlack = 4096;
    std::string bytes(static_cast<std::size_t>(st.st_size) + kSlack, '\0');
    std::size_t have = 0;
    while (have < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + have, bytes.size() - have);
        if (n < 0) {
            if (errno == EINTR) continue;
            ec = LastError();
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        have += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (have == bytes.size()) {
        ec = std::make_error_code(std::errc::file_too_large);  // it kept growing while it was read
        return std::nullopt;
    }
    bytes.resize(have);
    return bytes;
}

bool CanOpenForReading(const std::string& path) {
    struct stat st {};
    std::error_code ec;
    const int fd = OpenRegularFile(path, st, ec);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

std::error_code RemoveFile(const std::string& path) {
    const std::string target = ResolveCase(path);
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0) return errno == ENOENT ? std::error_code{} : LastError();
    if (S_ISDIR(st.st_mode)) return std::make_error_code(std::errc::is_a_directory);
    if (!S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0) return std::make_error_code(std::errc::permission_denied);
    // Another run's file in flight is not this run's to delete.
    if (S_ISREG(st.st_mode) && IsSafeReplaceTempName(LastComponent(target))) return RemoveStaleTempFile(target);
    listings::FolderChange change(ParentPath(target));
    if (::unlink(target.c_str()) != 0 && errno != ENOENT) {
        change.Forget();
        return LastError();
    }
    change.Removed(LastComponent(target));
    return {};
}

std::error_code CreateFolder(const std::string& path) {
    const std::string target = ResolveCase(path);
    listings::FolderChange change(ParentPath(target));
    if (::mkdir(target.c_str(), 0777) != 0) return LastError();
    change.Added(LastComponent(target), true);
    // As root, a folder made in someone's course belongs to them, like its parent.
    struct stat parent {};
    if (::geteuid() == 0 && ::stat(ParentPath(target).c_str(), &parent) == 0) {
        if (::chown(target.c_str(), parent.st_uid, parent.st_gid) != 0) return LastError();
    }
    return {};
}

bool CanCreateFileIn(const std::string& folder) {
    std::string probe;
    std::error_code ec;
    const UniqueFd fd = write::CreateLockedTemp(ResolveCase(folder), probe, ec);
    if (!fd) return false;
    ::unlink(probe.c_str());  // still locked: no other run took it
    return true;
}

bool IsReadOnly(const std::string& path) {
    struct stat st {};
    return ::stat(ResolveCase(path).c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
}

std::error_code ClearReadOnly(const std::string& path) {
    const std::string target = ResolveCase(path);
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0) return LastError();
    if ((st.st_mode & S_IWUSR) != 0) return {};
    if (::chmod(target.c_str(), (st.st_mode & 07777) | S_IWUSR) != 0) return LastError();
    return {};
}

std::optional<FileStamp> ReadableFileStamp(const std::string& path) {
    struct stat st {};
    std::error_code ec;
    const int fd = OpenRegularFile(path, st, ec);
    if (fd < 0) return std::nullopt;
    ::close(fd);
    return FileStamp{static_cast<long long>(st.st_size),
                     static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec,
                     static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)};
}

std::optional<LocalDate> LastWriteLocalDate(const std::string& path) {
    struct stat st {};
    if (::stat(ResolveCase(path).c_str(), &st) != 0) return std::nullopt;
    struct tm local {};
    const time_t seconds = st.st_mtim.tv_sec;
    if (::localtime_r(&seconds, &local) == nullptr) return std::nullopt;
    return LocalDate{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

std::error_code OpenExistingForWriting(const std::string& path) {
    const UniqueFd fd(::open(ResolveCase(path).c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC));
    return fd ? std::error_code{} : LastError();
}

namespace {

// Removes the temporary file `name` in the folder `dirFd` unless a run that
// is still going holds its lock; the lock is held while it is removed, so
// that the file removed is the one found unlocked.
std::error_code RemoveIfUnlocked(int dirFd, const char* name, bool& removed) {
    removed = false;
    const UniqueFd fd(::openat(dirFd, name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return errno == ENOENT ? std::error_code{} : LastError();
    struct stat opened {};
    if (::fstat(fd.Get(), &opened) != 0) return LastError();
    if (!S_ISREG(opened.st_mode)) return {};
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK ? std::error_code{} : LastError();
    struct stat named {};
    if (::fstatat(dirFd, name, &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_ino != opened.st_ino ||
        named.st_dev != opened.st_dev) {
        return {};  // renamed or replaced meanwhile: not the file that was found
    }
    if (::unlinkat(dirFd, name, 0) != 0) return errno == ENOENT ? std::error_code{} : LastError();
    removed = true;
    return {};
}

}  // namespace

std::error_code RemoveStaleTempFile(const std::string& path) {
    const std::string target = ResolveCase(path);
    if (!IsSafeReplaceTempName(LastComponent(target))) return std::make_error_code(std::errc::invalid_argument);
    const std::string folder = ParentPath(target);
    const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) return LastError();
    listings::FolderChange change(folder);
    bool removed = false;
    const std::error_code ec = RemoveIfUnlocked(dir.Get(), LastComponent(target).c_str(), removed);
    if (removed) change.Removed(LastComponent(target));
    return ec;
}

void RemoveStaleTempFiles(const std::string& folder) {
    const std::string resolved = ResolveCase(folder);
    DIR* dir = ::opendir(resolved.c_str());
    if (dir == nullptr) return;
    const int dirFd = ::dirfd(dir);
    std::vector<std::string> candidates;
    while (const dirent* entry = ::readdir(dir)) {
        if (IsSafeReplaceTempName(entry->d_name)) candidates.emplace_back(entry->d_name);
    }
    if (!candidates.empty()) listings::FolderChange(resolved).Forget();
    for (const std::string& name : candidates) {
        bool removed = false;
        std::ignore = RemoveIfUnlocked(dirFd, name.c_str(), removed);
    }
    ::closedir(dir);
}

namespace sys {

std::size_t RootLength(std::string_view path) {
    return !path.empty() && path.front() == '/' ? 1 : 0;
}

std::string AbsoluteSpelling(const std::string& path) {
    if (!path.empty() && path.front() == '/') return path;
    std::string cwd(PATH_MAX, '\0');
    if (::getcwd(cwd.data(), cwd.size()) == nullptr) return path;
    cwd.resize(std::char_traits<char>::length(cwd.c_str()));
    return JoinPath(cwd, path);
}

std::string NativeSpelling(const std::string& path) {
    return path;
}

std::string ProgramSpelling(const std::string& path) {
    return path;
}

std::optional<EntryKind> LookAt(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    return KindOf(st);
}

std::error_code ListError(const std::string& folder) {
    if (DIR* dir = ::opendir(folder.c_str())) {
        ::closedir(dir);
        return std::make_error_code(std::errc::io_error);
    }
    return LastError();
}

std::optional<FolderStamp> StampFolder(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    return FolderStamp{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                       static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

bool ReadFolder(const std::string& folder, std::vector<DirEntry>& entries) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return false;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        bool isDirectory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat target {};
            isDirectory = ::fstatat(dirFd, name, &target, 0) == 0 && S_ISDIR(target.st_mode);
        }
        entries.push_back({name, isDirectory});
    }
    ::closedir(dir);
    return true;
}

}  // namespace sys
}  // namespace platform
