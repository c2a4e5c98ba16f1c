#include "platform/LockedAppend.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <tuple>

#include "platform/AppendJournal.h"
#include "platform/FileSystem.h"
#include "platform/UniqueFd.h"
#include "platform/posix/WriteSupport.h"

namespace platform {
namespace {

using write::LastError;

std::error_code SyncFolder(const std::string& folder) {
    const UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd || ::fsync(fd.Get()) != 0) return LastError();
    return {};
}

void RemoveJournal(const std::string& path) {
    if (::unlink(path.c_str()) == 0) std::ignore = SyncFolder(ParentPath(path));
}

// Checksum of `length` bytes of `fd` from `offset`, or nothing when they cannot all be read.
std::optional<std::uint64_t> ChecksumOfRange(int fd, std::uint64_t offset, std::uint64_t length) {
    std::uint64_t hash = journal::Checksum({});
    char buffer[65536];
    while (length > 0) {
        const ssize_t n =
            ::pread(fd, buffer, std::min<std::uint64_t>(length, sizeof buffer), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        hash = journal::Checksum(std::string_view(buffer, static_cast<std::size_t>(n)), hash);
        offset += static_cast<std::uint64_t>(n);
        length -= static_cast<std::uint64_t>(n);
    }
    return hash;
}

std::error_code CutBack(int fd, std::uint64_t length) {
    if (::ftruncate(fd, static_cast<off_t>(length)) != 0 || ::fdatasync(fd) != 0) return LastError();
    return {};
}

std::optional<std::uint64_t> SizeOf(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

// The file is open for appending: the bytes go to its end.
std::error_code WriteAndSync(int fd, std::uint64_t, std::string_view bytes) {
    if (const std::error_code ec = write::WriteAll(fd, bytes)) return ec;
    if (::fdatasync(fd) != 0) return LastError();
    return {};
}

bool JournalPresent(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

std::error_code CreateFolders(const std::string& path);

// Writes a journal durably, name included; the state folder is made first.
bool WriteJournalFile(const std::string& path, const std::string& bytes, bool inStateFolder) {
    const std::string folder = ParentPath(path);
    if (inStateFolder && CreateFolders(folder)) return false;
    const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd) return false;
    if (write::WriteAll(fd.Get(), bytes) || ::fdatasync(fd.Get()) != 0 || SyncFolder(folder)) {
        ::unlink(path.c_str());
        return false;
    }
    return true;
}

std::error_code CreateFolders(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return {};
    if (errno != ENOENT) return LastError();
    if (const std::error_code ec = CreateFolders(ParentPath(path))) return ec;
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return LastError();
    return {};
}

}  // namespace

struct LockedAppend::File {
    UniqueFd fd;
    dev_t device = 0;
    ino_t inode = 0;
    int Native() const { return fd.Get(); }
};

LockedAppend::LockedAppend() = default;
LockedAppend::LockedAppend(LockedAppend&&) noexcept = default;
LockedAppend& LockedAppend::operator=(LockedAppend&&) noexcept = default;
LockedAppend::~LockedAppend() = default;

void LockedAppend::Close() {
    m_file.reset();
}

std::error_code LockedAppend::Open(const std::string& path, CreateIfMissing create) {
    Close();
    std::string target;
    struct stat st {};
    bool exists = false;
    if (const std::error_code ec = write::PrepareTarget(path, target, st, exists)) return ec;
    if (!exists && create == CreateIfMissing::no) return std::make_error_code(std::errc::no_such_file_or_directory);
    // Another program may replace the file while this one waits for the
    // lock; then the lock is taken again on the file now at that name.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int flags = O_RDWR | O_APPEND | O_NONBLOCK | O_CLOEXEC;
        UniqueFd fd(::open(target.c_str(), flags));
        if (!fd && errno == ENOENT && create == CreateIfMissing::yes) {
            fd.Reset(::open(target.c_str(), flags | O_CREAT | O_EXCL, 0666));
            if (!fd && errno == EEXIST) continue;  // created by another run just now
            // A file created as root belongs to whoever owns its folder, as the run's other new files do.
            struct stat folder {};
            if (fd && ::geteuid() == 0 && ::stat(ParentPath(target).c_str(), &folder) == 0) {
                std::ignore = ::fchown(fd.Get(), folder.st_uid, folder.st_gid);
            }
        }
        if (!fd) return LastError();
        if (::fstat(fd.Get(), &st) != 0) return LastError();
        if (!S_ISREG(st.st_mode)) {
            return std::make_error_code(S_ISDIR(st.st_mode) ? std::errc::is_a_directory : std::errc::invalid_argument);
        }
        while (::flock(fd.Get(), LOCK_EX) != 0) {
            if (errno != EINTR) return LastError();
        }
        struct stat named {};
        if (::stat(target.c_str(), &named) != 0 || named.st_dev != st.st_dev || named.st_ino != st.st_ino) continue;
        m_path = target;
        m_file = std::make_unique<File>(File{std::move(fd), st.st_dev, st.st_ino});
        CutBackUnfinishedAppend();
        return {};
    }
    return std::make_error_code(std::errc::resource_unavailable_try_again);
}

std::string LockedAppend::JournalInStateFolder() const {
    std::string base;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/') {
        base = state;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        base = JoinPath(home, ".local/state");
    } else {
        return {};
    }
    return JoinPath(JoinPath(base, "quarvel"), std::to_string(static_cast<unsigned long long>(m_file->device)) + "-" +
                                                   std::to_string(static_cast<unsigned long long>(m_file->inode)) +
                                                   std::string(journal::kSuffix));
}

}  // namespace platform

#include "platform/LockedAppendFlow.inc"
