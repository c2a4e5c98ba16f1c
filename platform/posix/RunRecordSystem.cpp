#include "platform/RunRecordSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <tuple>

#include "platform/AppendSystem.h"
#include "platform/FileSystem.h"
#include "platform/System.h"
#include "platform/UniqueFd.h"
#include "platform/posix/WriteSupport.h"

namespace platform {

using write::LastError;
using write::Nanoseconds;
using write::Timespec;

namespace {

int Fd(const HeldFolder& folder) {
    return static_cast<int>(folder.Native());
}

EntryFacts FactsOf(const struct stat& st) {
    return {true,
            S_ISREG(st.st_mode),
            static_cast<std::uint32_t>(st.st_mode & 07777),
            st.st_uid,
            st.st_gid,
            static_cast<std::uint64_t>(st.st_nlink),
            static_cast<std::uint64_t>(st.st_size),
            Nanoseconds(st.st_atim),
            Nanoseconds(st.st_mtim),
            static_cast<std::uint64_t>(st.st_dev),
            static_cast<std::uint64_t>(st.st_ino)};
}

// Held folders are path descriptors, which neither sync nor list: the folder opened for that.
UniqueFd OpenForSync(const HeldFolder& folder) {
    return UniqueFd(::openat(Fd(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

std::error_code CopyInto(const Place& place, const HeldFolder& record, const std::string& keptName) {
    struct stat st {};
    std::error_code ec;
    const UniqueFd in = write::OpenRegularAt(Fd(*place.folder), place.name.c_str(), write::AtLink::refuse, st, ec);
    if (!in) return ec;
    UniqueFd out(::openat(Fd(record), keptName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out) return LastError();
    ec = write::CopyContent(in.Get(), out.Get());
    const std::array<struct timespec, 2> times{st.st_atim, st.st_mtim};
    if (!ec && ::futimens(out.Get(), times.data()) != 0) ec = LastError();
    if (ec) std::ignore = ::unlinkat(Fd(record), keptName.c_str(), 0);
    return ec;
}

}  // namespace

std::error_code DescribeEntry(const Place& place, EntryFacts& facts) {
    facts = {};
    struct stat st {};
    if (::fstatat(Fd(*place.folder), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? std::error_code{} : LastError();
    }
    facts = FactsOf(st);
    return {};
}

std::error_code KeepFile(const Place& place, const HeldFolder& record, const std::string& keptName, bool& copied) {
    copied = false;
    struct stat st {};
    if (::fstatat(Fd(*place.folder), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return LastError();
    if (!S_ISREG(st.st_mode)) return MakeError(FileError::notRegularFile);
    // A file with other names would count the record's among them at the
    // next run's check of hard links: such a file is copied.
    if (st.st_nlink == 1) {
        if (::linkat(Fd(*place.folder), place.name.c_str(), Fd(record), keptName.c_str(), 0) == 0) {
            struct stat kept {};
            // The name may have been swapped for something else meanwhile: only a regular file is kept.
            if (::fstatat(Fd(record), keptName.c_str(), &kept, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(kept.st_mode)) {
                return {};
            }
            std::ignore = ::unlinkat(Fd(record), keptName.c_str(), 0);
            return MakeError(FileError::notRegularFile);
        }
        // Another file system, links refused (protected hard links), too many links: a copy.
        if (errno != EXDEV && errno != EPERM && errno != EMLINK && errno != EACCES && errno != ENOTSUP) {
            return LastError();
        }
    }
    copied = true;
    return CopyInto(place, record, keptName);
}

std::error_code SyncRecord(const HeldFolder& record, bool copies) {
    const UniqueFd fd = OpenForSync(record);
    if (!fd) return LastError();
    // Copies may be many: one wait for the whole file system rather than one each.
    if (copies ? ::syncfs(fd.Get()) != 0 : ::fsync(fd.Get()) != 0) return LastError();
    return {};
}

std::error_code SetEntryFacts(const Place& place, const EntryFacts& facts, bool owner) {
    const int folder = Fd(*place.folder);
    const char* name = place.name.c_str();
    UniqueFd fd(::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (fd ? ::fstat(fd.Get(), &st) != 0 : ::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return LastError();
    }
    if (!S_ISREG(st.st_mode)) return MakeError(FileError::notRegularFile);
    const std::array<struct timespec, 2> times{Timespec(facts.accessed), Timespec(facts.modified)};
    if (fd) {
        // The owner first: changing it clears the set-user and set-group bits.
        if (owner && (st.st_uid != facts.owner || st.st_gid != facts.group)) {
            std::ignore = ::fchown(fd.Get(), facts.owner, facts.group);
        }
        if (::fchmod(fd.Get(), facts.mode) != 0) return LastError();
        if (::futimens(fd.Get(), times.data()) != 0) return LastError();
        return {};
    }
    // A file its owner cannot read (mode 000): by name, the entry checked above being no link.
    if (owner && (st.st_uid != facts.owner || st.st_gid != facts.group)) {
        std::ignore = ::fchownat(folder, name, facts.owner, facts.group, AT_SYMLINK_NOFOLLOW);
    }
    if (::fchmodat(folder, name, facts.mode, 0) != 0) return LastError();
    if (::utimensat(folder, name, times.data(), AT_SYMLINK_NOFOLLOW) != 0) return LastError();
    return {};
}

std::error_code RemoveEmptyFolder(const Place& place) {
    if (::unlinkat(Fd(*place.folder), place.name.c_str(), AT_REMOVEDIR) == 0) return {};
    if (errno == EEXIST) return std::make_error_code(std::errc::directory_not_empty);
    return LastError();
}

std::error_code RemoveFlatFolder(const HeldFolder& parent, const std::string& name) {
    UniqueFd fd(::openat(Fd(parent), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return errno == ENOENT ? std::error_code{} : LastError();
    UniqueFd listed(::dup(fd.Get()));
    DIR* dir = listed ? ::fdopendir(listed.Get()) : nullptr;
    if (dir == nullptr) return LastError();
    std::ignore = listed.Release();  // the listing owns it now
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view entryName = entry->d_name;
        if (entryName != "." && entryName != "..") names.emplace_back(entryName);
    }
    ::closedir(dir);
    for (const std::string& entry : names) {
        if (::unlinkat(fd.Get(), entry.c_str(), 0) != 0 && errno != ENOENT) return LastError();
    }
    if (::unlinkat(Fd(parent), name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) return LastError();
    return {};
}

FolderRef OpenPrivateFolder(const FolderRef& parent, const std::string& name, PrivateFolder how, std::error_code& ec) {
    ec.clear();
    if (how != PrivateFolder::open && ::mkdirat(Fd(*parent), name.c_str(), 0700) != 0 &&
        (errno != EEXIST || how == PrivateFolder::makeNew)) {
        ec = LastError();
        return nullptr;
    }
    FolderRef folder = sys::OpenSubfolder(parent, name, JoinPath(parent->Path(), name), {}, ec);
    if (!folder) return nullptr;
    struct stat st {};
    if (::fstat(Fd(*folder), &st) != 0) {
        ec = LastError();
        return nullptr;
    }
    // Another user's folder (made there to catch this user's files) is not used.
    if (st.st_uid != ::geteuid()) {
        ec = std::make_error_code(std::errc::permission_denied);
        return nullptr;
    }
    if ((st.st_mode & 077) != 0 && ::fchmodat(Fd(*parent), name.c_str(), st.st_mode & 0700, AT_SYMLINK_NOFOLLOW) != 0 &&
        errno != ENOTSUP) {
        ec = LastError();
        return nullptr;
    }
    return folder;
}

FolderRef OpenFolderPath(const std::string& path, std::error_code& ec) {
    return sys::OpenFolderAt(path, false, ec);
}

std::string UserStateFolder(bool make) {
    return sys::StateFolder(make);
}

struct RecordJournal::Handle {
    UniqueFd fd;
};

RecordJournal::RecordJournal() = default;
RecordJournal::~RecordJournal() = default;

std::error_code RecordJournal::Open(const HeldFolder& folder, const std::string& name) {
    UniqueFd fd(::openat(Fd(folder), name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) return LastError();
    m_handle = std::make_unique<Handle>(Handle{std::move(fd)});
    return {};
}

bool RecordJournal::IsOpen() const {
    return m_handle != nullptr;
}

std::error_code RecordJournal::Append(std::string_view bytes) {
    if (!m_handle) return std::make_error_code(std::errc::bad_file_descriptor);
    return write::WriteAll(m_handle->fd.Get(), bytes);
}

std::error_code RecordJournal::Sync() {
    if (!m_handle) return std::make_error_code(std::errc::bad_file_descriptor);
    while (::fdatasync(m_handle->fd.Get()) != 0) {
        if (errno != EINTR) return LastError();
    }
    return {};
}

void RecordJournal::Close() {
    m_handle.reset();
}

}  // namespace platform
