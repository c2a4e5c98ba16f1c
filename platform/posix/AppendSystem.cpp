#include "platform/AppendSystem.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <tuple>

#include "platform/FileSystem.h"
#include "platform/System.h"
#include "platform/UniqueFd.h"
#include "platform/posix/WriteSupport.h"

namespace platform::sys {

using write::LastError;

struct AppendFile {
    UniqueFd fd;
};

void CloseAppendFile(AppendFile* file) {
    delete file;  // closing the file releases its lock
}

namespace {

int Fd(const HeldFolder& folder) {
    return static_cast<int>(folder.Native());
}

std::error_code SyncFolder(const HeldFolder& folder) {
    const UniqueFd fd(::openat(Fd(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd || ::fsync(fd.Get()) != 0) return LastError();
    return {};
}

// Creates `path` and the folders above it that are missing, for this user alone.
void CreateFolders(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST || errno != ENOENT) return;
    CreateFolders(ParentPath(path));
    std::ignore = ::mkdir(path.c_str(), 0700);
}

}  // namespace

AppendFileRef OpenForAppend(const Place& place, bool create, FolderIdentity& identity, bool& created,
                            std::error_code& ec) {
    created = false;
    const int folder = Fd(*place.folder);
    const char* name = place.name.c_str();
    // Another program may replace the file while this one waits for the
    // lock; then the lock is taken again on the file now at that name.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int flags = O_RDWR | O_APPEND | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC;
        UniqueFd fd(::openat(folder, name, flags));
        if (!fd && errno == ENOENT && create) {
            fd = UniqueFd(::openat(folder, name, flags | O_CREAT | O_EXCL, 0666));
            if (!fd && errno == EEXIST) continue;  // created by another run just now
            created = static_cast<bool>(fd);
            // A file created as root belongs to whoever owns its folder, as the run's other new files do.
            struct stat owner {};
            if (fd && ::geteuid() == 0 && ::fstat(folder, &owner) == 0) {
                std::ignore = ::fchown(fd.Get(), owner.st_uid, owner.st_gid);
            }
        }
        if (!fd) {
            ec = errno == ELOOP ? MakeError(FileError::notRegularFile) : LastError();
            return {nullptr, &CloseAppendFile};
        }
        struct stat st {};
        if (::fstat(fd.Get(), &st) != 0) {
            ec = LastError();
            return {nullptr, &CloseAppendFile};
        }
        if (!S_ISREG(st.st_mode)) {
            ec = S_ISDIR(st.st_mode) ? std::make_error_code(std::errc::is_a_directory)
                                     : MakeError(FileError::notRegularFile);
            return {nullptr, &CloseAppendFile};
        }
        while (::flock(fd.Get(), LOCK_EX) != 0) {
            if (errno != EINTR) {
                ec = LastError();
                return {nullptr, &CloseAppendFile};
            }
        }
        struct stat named {};
        if (::fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_dev != st.st_dev ||
            named.st_ino != st.st_ino) {
            created = false;
            continue;
        }
        identity = {static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)};
        return {new AppendFile{std::move(fd)}, &CloseAppendFile};
    }
    ec = std::make_error_code(std::errc::resource_unavailable_try_again);
    return {nullptr, &CloseAppendFile};
}

std::optional<std::uint64_t> SizeOf(AppendFile& file) {
    struct stat st {};
    if (::fstat(file.fd.Get(), &st) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

std::error_code ReadAt(AppendFile& file, std::uint64_t offset, char* buffer, std::size_t length, std::size_t& got) {
    return ReadAt(static_cast<std::intptr_t>(file.fd.Get()), offset, buffer, length, got);
}

std::error_code CutBack(AppendFile& file, std::uint64_t length) {
    if (::ftruncate(file.fd.Get(), static_cast<off_t>(length)) != 0 || ::fdatasync(file.fd.Get()) != 0) {
        return LastError();
    }
    return {};
}

std::error_code WriteAndSync(AppendFile& file, std::uint64_t, std::string_view bytes) {
    // The file is open for appending: the bytes go to its end.
    if (const std::error_code ec = write::WriteAll(file.fd.Get(), bytes)) return ec;
    if (::fdatasync(file.fd.Get()) != 0) return LastError();
    return {};
}

std::error_code WriteDurably(const HeldFolder& folder, const std::string& name, std::string_view bytes) {
    const UniqueFd fd(::openat(Fd(folder), name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd) return LastError();
    std::error_code ec = write::WriteAll(fd.Get(), bytes);
    if (!ec && ::fdatasync(fd.Get()) != 0) ec = LastError();
    if (!ec) ec = SyncFolder(folder);
    if (ec) std::ignore = ::unlinkat(Fd(folder), name.c_str(), 0);
    return ec;
}

void RemoveDurably(const HeldFolder& folder, const std::string& name) {
    if (::unlinkat(Fd(folder), name.c_str(), 0) == 0) std::ignore = SyncFolder(folder);
}

std::string StateFolder(bool make) {
    std::string base;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/') {
        base = state;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        base = JoinPath(home, ".local/state");
    } else {
        return {};
    }
    const std::string folder = JoinPath(base, "quarvel");
    if (make) CreateFolders(folder);
    return folder;
}

}  // namespace platform::sys
