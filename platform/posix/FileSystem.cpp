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
#include <memory>
#include <tuple>

#include "platform/FolderListings.h"
#include "platform/FolderTree.h"
#include "platform/System.h"
#include "platform/Text.h"
#include "platform/UniqueFd.h"
#include "platform/posix/WriteSupport.h"

namespace platform {
namespace {

using write::LastError;

EntryKind KindOf(const struct stat& st) {
    if (S_ISREG(st.st_mode)) return EntryKind::file;
    if (S_ISDIR(st.st_mode)) return EntryKind::folder;
    if (S_ISLNK(st.st_mode)) return EntryKind::link;
    return EntryKind::special;
}

FolderIdentity IdentityOf(const struct stat& st) {
    return {static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)};
}

int Fd(const HeldFolder& folder) {
    return static_cast<int>(folder.Native());
}

// A folder held as a descriptor that reaches entries but reads nothing itself.
FolderRef Hold(UniqueFd fd, std::string path, std::string realPath, std::error_code& ec) {
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        ec = LastError();
        return nullptr;
    }
    if (!S_ISDIR(st.st_mode)) {
        ec = std::make_error_code(std::errc::not_a_directory);
        return nullptr;
    }
    return std::make_shared<const HeldFolder>(std::move(path), std::move(realPath), IdentityOf(st), fd.Release(),
                                              nullptr);
}

// Where the kernel has the open `fd`; empty when it cannot say (a path
// longer than it reports).
std::string RealPathOf(int fd) {
    std::string resolved(PATH_MAX, '\0');
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(self.c_str(), resolved.data(), resolved.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= resolved.size() || resolved.front() != '/') return {};
    resolved.resize(static_cast<std::size_t>(n));
    return resolved;
}

// Opens the folder `path` one name at a time from the root, for a path
// longer than the kernel takes in one piece; links on the way are followed
// as the kernel follows them.
UniqueFd OpenLongFolderPath(const std::string& path, std::error_code& ec) {
    UniqueFd folder(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    std::string_view rest = std::string_view(path).substr(1);
    while (folder && !rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string name(rest.substr(0, slash));
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (name.empty()) continue;
        folder = UniqueFd(::openat(folder.Get(), name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    if (!folder) ec = LastError();
    return folder;
}

}  // namespace

std::optional<std::string> RealPath(const std::string& path) {
    // The kernel resolves the whole path in one pass; the C library's realpath
    // asks after every component, which costs depth squared in deep trees.
    const UniqueFd fd(::open(path.c_str(), O_PATH | O_CLOEXEC));
    if (fd) {
        if (std::string resolved = RealPathOf(fd.Get()); !resolved.empty()) return resolved;
    } else if (errno == ENOENT || errno == ENOTDIR) {
        return std::nullopt;
    }
    struct Frees {
        void operator()(char* text) const { std::free(text); }
    };
    const std::unique_ptr<char, Frees> real(::realpath(path.c_str(), nullptr));
    if (!real) return std::nullopt;
    return std::string(real.get());
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
    return IdentityOf(st);
}

bool CanCreateFileIn(const std::string& folder) {
    std::string probe;
    std::error_code ec;
    const UniqueFd fd = write::CreateLockedTemp(ResolveCase(folder), probe, ec);
    if (!fd) return false;
    std::ignore = ::unlink(probe.c_str());  // still locked: no other run took it
    return true;
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

// The folder `path` open for listing, or nothing.
UniqueFd OpenForListing(const std::string& path) {
    return UniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

struct ClosesDir {
    void operator()(DIR* dir) const { std::ignore = ::closedir(dir); }
};

// Reads the names in the folder open as `fd` (which it takes over); false when it cannot be read.
template <typename OnEntry>
bool ReadNames(UniqueFd fd, OnEntry&& onEntry) {
    if (!fd) return false;
    const std::unique_ptr<DIR, ClosesDir> dir(::fdopendir(fd.Get()));
    if (!dir) return false;
    std::ignore = fd.Release();  // the stream closes it now
    const int dirFd = ::dirfd(dir.get());
    errno = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        onEntry(dirFd, *entry);
        errno = 0;
    }
    return errno == 0;
}

}  // namespace

std::error_code RemoveStaleTempFile(const std::string& path) {
    const std::string target = ResolveCase(path);
    if (!IsSafeReplaceTempName(LastComponent(target))) return std::make_error_code(std::errc::invalid_argument);
    const std::string folder = ParentPath(target);
    const UniqueFd dir(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dir) return LastError();
    listings::FolderChange change(folder);
    bool removed = false;
    const std::error_code ec = RemoveIfUnlocked(dir.Get(), LastComponent(target).c_str(), removed);
    if (removed) change.Removed(LastComponent(target));
    return ec;
}

void RemoveStaleTempFiles(const std::string& folder) {
    const std::string resolved = ResolveCase(folder);
    UniqueFd fd = OpenForListing(resolved);
    if (!fd) return;
    const UniqueFd dirFd(::dup(fd.Get()));
    std::vector<std::string> candidates;
    std::ignore = ReadNames(std::move(fd), [&](int, const dirent& entry) {
        if (IsSafeReplaceTempName(entry.d_name)) candidates.emplace_back(entry.d_name);
    });
    if (candidates.empty() || !dirFd) return;
    listings::FolderChange(resolved).Forget();
    for (const std::string& name : candidates) {
        bool removed = false;
        std::ignore = RemoveIfUnlocked(dirFd.Get(), name.c_str(), removed);
    }
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

bool NamesIgnoreCase() {
    return false;
}

std::optional<EntryKind> LookAt(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    return KindOf(st);
}

std::error_code ListError(const std::string& folder) {
    if (OpenForListing(folder)) return std::make_error_code(std::errc::io_error);
    return LastError();
}

std::optional<FolderStamp> StampFolder(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    return FolderStamp{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                       static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

namespace {

bool ReadEntries(UniqueFd fd, std::vector<DirEntry>& entries) {
    return ReadNames(std::move(fd), [&](int dirFd, const dirent& entry) {
        bool isDirectory = entry.d_type == DT_DIR;
        if (entry.d_type == DT_LNK || entry.d_type == DT_UNKNOWN) {
            // Links to folders count as folders.
            struct stat target {};
            isDirectory = ::fstatat(dirFd, entry.d_name, &target, 0) == 0 && S_ISDIR(target.st_mode);
        }
        entries.push_back({entry.d_name, isDirectory});
    });
}

}  // namespace

bool ReadFolder(const std::string& folder, std::vector<DirEntry>& entries) {
    return ReadEntries(OpenForListing(folder), entries);
}

// --- Held folders ---

FolderRef OpenFolderAt(const std::string& path, bool withRealPath, std::error_code& ec) {
    ec.clear();
    UniqueFd fd(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!fd && errno == ENAMETOOLONG) {
        fd = OpenLongFolderPath(path, ec);
    } else if (!fd) {
        ec = LastError();
    }
    if (!fd) return nullptr;
    std::string real;
    if (withRealPath) {
        real = RealPathOf(fd.Get());
        if (real.empty()) real = path;  // too long for the kernel to say: as spelt
    }
    return Hold(std::move(fd), path, std::move(real), ec);
}

FolderRef OpenSubfolder(const FolderRef& folder, const std::string& name, std::string path, std::string realPath,
                        std::error_code& ec) {
    ec.clear();
    UniqueFd fd(::openat(Fd(*folder), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
        // A link put there meanwhile is not followed: it is not the folder that was looked at.
        ec = errno == ELOOP ? std::make_error_code(std::errc::not_a_directory) : LastError();
        return nullptr;
    }
    return Hold(std::move(fd), std::move(path), std::move(realPath), ec);
}

FolderRef OpenParentOf(const FolderRef& folder, std::string path, std::error_code& ec) {
    ec.clear();
    UniqueFd fd(::openat(Fd(*folder), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!fd) {
        ec = LastError();
        return nullptr;
    }
    std::string real = folder->RealPath().empty() ? std::string() : ParentPath(folder->RealPath());
    return Hold(std::move(fd), std::move(path), std::move(real), ec);
}

void CloseFolder(std::intptr_t native) {
    if (native >= 0) UniqueFd{static_cast<int>(native)};
}

std::optional<EntryStat> StatEntry(const HeldFolder& folder, const std::string& name, std::error_code& ec) {
    ec.clear();
    struct stat st {};
    if (::fstatat(Fd(folder), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) ec = LastError();
        return std::nullopt;
    }
    return EntryStat{KindOf(st), (st.st_mode & S_IWUSR) == 0, {}};
}

std::optional<std::string> ReadLink(const HeldFolder& folder, const std::string& name) {
    std::string text(256, '\0');
    while (true) {
        const ssize_t n = ::readlinkat(Fd(folder), name.c_str(), text.data(), text.size());
        if (n < 0) return std::nullopt;
        if (static_cast<std::size_t>(n) < text.size()) {
            text.resize(static_cast<std::size_t>(n));
            return text;
        }
        text.resize(text.size() * 2);
    }
}

std::optional<FolderStamp> StampFolder(const HeldFolder& folder) {
    struct stat st {};
    if (::fstat(Fd(folder), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    return FolderStamp{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                       static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

bool ReadFolder(const HeldFolder& folder, std::vector<DirEntry>& entries) {
    return ReadEntries(UniqueFd(::openat(Fd(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)), entries);
}

std::error_code ListError(const HeldFolder& folder) {
    if (UniqueFd(::openat(Fd(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC))) {
        return std::make_error_code(std::errc::io_error);
    }
    return LastError();
}

// --- Files in held folders ---

std::intptr_t OpenRegularFile(const HeldFolder& folder, const std::string& name, std::uint64_t& size, FileStamp& stamp,
                              std::error_code& ec) {
    struct stat st {};
    UniqueFd fd = write::OpenRegularAt(Fd(folder), name.c_str(), write::AtLink::refuse, st, ec);
    if (!fd) return -1;
    size = static_cast<std::uint64_t>(st.st_size);
    stamp = FileStamp{static_cast<long long>(st.st_size),
                      static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec,
                      static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)};
    return fd.Release();
}

void CloseFile(std::intptr_t native) {
    if (native >= 0) UniqueFd{static_cast<int>(native)};
}

std::error_code ReadAt(std::intptr_t file, std::uint64_t offset, char* buffer, std::size_t length, std::size_t& got) {
    got = 0;
    while (true) {
        const ssize_t n = ::pread(static_cast<int>(file), buffer, length, static_cast<off_t>(offset));
        if (n >= 0) {
            got = static_cast<std::size_t>(n);
            return {};
        }
        if (errno != EINTR) return LastError();
    }
}

std::error_code RemoveEntry(const HeldFolder& folder, const std::string& name) {
    return ::unlinkat(Fd(folder), name.c_str(), 0) == 0 ? std::error_code{} : LastError();
}

std::error_code RemoveStaleEntry(const HeldFolder& folder, const std::string& name, bool& removed) {
    return RemoveIfUnlocked(Fd(folder), name.c_str(), removed);
}

std::error_code MakeFolder(const HeldFolder& folder, const std::string& name) {
    if (::mkdirat(Fd(folder), name.c_str(), 0777) != 0) return LastError();
    // As root, a folder made in someone's course belongs to them, like its parent.
    if (::geteuid() != 0) return {};
    struct stat parent {};
    if (::fstat(Fd(folder), &parent) != 0) return LastError();
    if (::fchownat(Fd(folder), name.c_str(), parent.st_uid, parent.st_gid, AT_SYMLINK_NOFOLLOW) != 0) {
        return LastError();
    }
    return {};
}

std::error_code AddOwnerWrite(const HeldFolder& folder, const std::string& name) {
    struct stat st {};
    if (::fstatat(Fd(folder), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return LastError();
    if ((st.st_mode & S_IWUSR) != 0 || S_ISLNK(st.st_mode)) return {};
    // Through a descriptor of the file itself: a name swapped for a link in
    // between is not followed to change another file's mode.
    UniqueFd fd(::openat(Fd(folder), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    const bool readable = static_cast<bool>(fd);
    if (!readable) fd = UniqueFd(::openat(Fd(folder), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return LastError();
    struct stat now {};
    if (::fstat(fd.Get(), &now) != 0) return LastError();
    if (!S_ISREG(now.st_mode)) return {};
    const mode_t mode = (now.st_mode & 07777) | S_IWUSR;
    if (readable) return ::fchmod(fd.Get(), mode) == 0 ? std::error_code{} : LastError();
    // A file its owner may not read: fchmod takes no O_PATH descriptor, but
    // its /proc name reaches the same file.
    const std::string self = "/proc/self/fd/" + std::to_string(fd.Get());
    return ::chmod(self.c_str(), mode) == 0 ? std::error_code{} : LastError();
}

}  // namespace sys
}  // namespace platform
