#include "platform/StagingSystem.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <tuple>

#include "platform/FileSystem.h"
#include "platform/System.h"
#include "platform/UniqueFd.h"
#include "platform/posix/WriteSupport.h"

namespace platform::sys {

using write::LastError;
using write::Nanoseconds;
using write::Timespec;

struct StagedFile {
    UniqueFd fd;                   // the new content, locked
    FolderRef folder;              // where it goes
    std::string tempName;          // where no unnamed file could be made: its temporary name in `folder`
    FolderIdentity folderOwnerOf;  // the folder whose owner `folderOwner` is
    std::optional<std::pair<uid_t, gid_t>> folderOwner;  // a new file made as root takes it
    // Filled on the write-back thread: whether that is still to come, and why it failed.
    std::atomic<bool> filling = false;
    std::error_code fillFailure;  // written before `filling` clears
};

namespace {

constexpr std::string_view kAclAttribute = "system.posix_acl_access";

int Fd(const HeldFolder& folder) {
    return static_cast<int>(folder.Native());
}

std::error_code Retrying(int (*call)(int), int fd) {
    while (call(fd) != 0) {
        if (errno != EINTR) return LastError();
    }
    return {};
}

// Fills staged files copied from others and starts the write-back of every
// staged file on a thread of its own, so that the disk and the kernel's copy
// are busy while the run reads and stages the next files instead of waiting
// at each commit. Each job shares its staged file, so no descriptor is closed
// under it.
class WriteBack {
public:
    WriteBack() = default;
    ~WriteBack() {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_one();
        if (m_thread.joinable()) m_thread.join();
    }
    WriteBack(const WriteBack&) = delete;
    WriteBack& operator=(const WriteBack&) = delete;

    // Starts the write-back of `file`, whose content is all written.
    void Start(std::shared_ptr<StagedFile> file) { Hand({std::move(file), {}, {}}); }

    // Copies the rest of `source` into `file`, gives it `times` and starts its write-back.
    void StartCopy(std::shared_ptr<StagedFile> file, UniqueFd source, const std::array<struct timespec, 2>& times) {
        file->filling = true;
        Hand({std::move(file), std::move(source), times});
    }

    // Returns once every job handed over is done with.
    void Wait() {
        std::unique_lock lock(m_mutex);
        m_idle.wait(lock, [this] { return m_queue.empty() && !m_busy; });
    }

private:
    struct Job {
        std::shared_ptr<StagedFile> file;
        UniqueFd source;  // or a file to copy into the staged one first
        std::array<struct timespec, 2> times;
    };

    // Jobs waiting at most; each may hold a source open, and a run that
    // stages faster than the disk takes waits here rather than at the commit.
    static constexpr std::size_t kMaxQueued = 64;

    static void Do(Job& job) {
        StagedFile& file = *job.file;
        if (job.source) {
            std::error_code ec = write::CopyContent(job.source.Get(), file.fd.Get());
            job.source.Reset();
            if (!ec && ::futimens(file.fd.Get(), job.times.data()) != 0) ec = LastError();
            file.fillFailure = ec;
            if (ec) return;
        }
        std::ignore = ::sync_file_range(file.fd.Get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    }

    void Hand(Job job) {
        {
            std::unique_lock lock(m_mutex);
            if (!m_thread.joinable() && !m_inline) {
                try {
                    m_thread = std::thread([this] { Work(); });
                } catch (const std::system_error&) {
                    m_inline = true;  // no thread to be had: do it here
                }
            }
            if (!m_inline) {
                m_room.wait(lock, [this] { return m_queue.size() < kMaxQueued; });
                m_queue.push_back(std::move(job));
                m_wake.notify_one();
                return;
            }
        }
        Do(job);
        job.file->filling = false;
    }

    void Work() {
        std::unique_lock lock(m_mutex);
        while (true) {
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_queue.empty()) return;
            Job job = std::move(m_queue.front());
            m_queue.pop_front();
            m_busy = true;
            lock.unlock();
            m_room.notify_one();
            Do(job);
            lock.lock();
            job.file->filling = false;
            job = {};  // lets the staged file go under the lock, as Wait's callers see it
            m_busy = false;
            if (m_queue.empty()) m_idle.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::condition_variable m_room;
    std::deque<Job> m_queue;
    bool m_busy = false;
    bool m_stop = false;
    bool m_inline = false;
    std::thread m_thread;
};

// An unnamed file in `folder`, locked from the start; where the file system
// has no unnamed files, a locked temporary one (its name in `tempName`).
UniqueFd OpenStagingFile(const HeldFolder& folder, std::string& tempName, std::error_code& ec) {
    tempName.clear();
    UniqueFd fd(::openat(Fd(folder), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
    if (!fd) {
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            ec = LastError();
            return {};
        }
        return write::CreateLockedTempAt(Fd(folder), tempName, ec);
    }
    if (::flock(fd.Get(), LOCK_EX) != 0) {
        ec = LastError();
        return {};
    }
    return fd;
}

// Gives the unnamed file `fd` the name `name` in `folder`: straight from the
// descriptor where the process may (it saves looking the descriptor up in
// /proc), else through /proc. Either fails with ENOENT when it cannot be used at all.
std::error_code LinkUnnamed(int fd, const HeldFolder& folder, const std::string& name) {
    static std::atomic<bool> direct = true;  // what the kernel allows this process, learnt once
    if (direct && ::linkat(fd, "", Fd(folder), name.c_str(), AT_EMPTY_PATH) == 0) return {};
    if (direct && errno != ENOENT) return LastError();
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), Fd(folder), name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        direct = false;  // the direct way was refused, not the name
        return {};
    }
    return LastError();
}

// The path under which the file `fd` (open as O_PATH) can be asked for its attributes.
std::string SelfPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

std::vector<std::string> AttributeNames(const std::string& path) {
    std::vector<std::string> names;
    std::string list;
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = ::listxattr(path.c_str(), nullptr, 0);
        if (size <= 0) return names;
        list.resize(static_cast<std::size_t>(size));
        const ssize_t got = ::listxattr(path.c_str(), list.data(), list.size());
        if (got < 0 && errno == ERANGE) continue;  // grew in between
        if (got < 0) return names;
        list.resize(static_cast<std::size_t>(got));
        break;
    }
    for (std::size_t pos = 0; pos < list.size();) {
        const std::size_t end = list.find('\0', pos);
        const std::size_t stop = end == std::string::npos ? list.size() : end;
        if (stop > pos) names.push_back(list.substr(pos, stop - pos));
        pos = stop + 1;
    }
    return names;
}

std::optional<std::string> AttributeValue(const std::string& path, const std::string& name, std::error_code& ec) {
    std::string value;
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = ::getxattr(path.c_str(), name.c_str(), nullptr, 0);
        if (size < 0) break;
        value.resize(static_cast<std::size_t>(size));
        const ssize_t got = ::getxattr(path.c_str(), name.c_str(), value.data(), value.size());
        if (got < 0 && errno == ERANGE) continue;
        if (got < 0) break;
        value.resize(static_cast<std::size_t>(got));
        return value;
    }
    ec = LastError();
    return std::nullopt;
}

// Gives the staged file `fd` (as `created` describes it) the owner, group
// and extended attributes it should keep: those of the file it replaces
// (`info`, its attributes read through `old`), or for a new file its
// folder's owner (where it is known). Records what could not be kept.
// Returns whether it changed the owner or group, which clears the set-user
// and set-group bits.
bool KeepOwnership(int fd, const Place& target, const TargetInfo& info, int old,
                   const std::optional<std::pair<uid_t, gid_t>>& folderOwner, const struct stat& created,
                   std::vector<KeepProblem>& problems) {
    const auto report = [&](KeepProblem::Kind kind, std::string detail, std::error_code reason) {
        problems.push_back({target.path, kind, std::move(detail), reason});
    };
    std::optional<uid_t> uid;
    std::optional<gid_t> gid;
    if (info.exists) {
        uid = info.owner;
        gid = info.group;
    } else if (folderOwner) {
        uid = folderOwner->first;
        gid = folderOwner->second;
    }
    bool changed = false;
    if (uid && (created.st_uid != *uid || created.st_gid != *gid)) {
        changed = true;
        if (::fchown(fd, *uid, *gid) != 0) {
            const std::error_code reason = LastError();
            // The group alone may still be possible (one the user belongs to).
            if (created.st_gid != *gid) std::ignore = ::fchown(fd, static_cast<uid_t>(-1), *gid);
            struct stat now = created;
            std::ignore = ::fstat(fd, &now);
            if (now.st_uid != *uid) report(KeepProblem::Kind::Owner, std::to_string(*uid), reason);
            if (now.st_gid != *gid) report(KeepProblem::Kind::Group, std::to_string(*gid), reason);
        }
    }
    if (!info.exists) return changed;
    bool hasAcl = false;
    if (old >= 0) {
        const std::string oldPath = SelfPath(old);
        for (const std::string& name : AttributeNames(oldPath)) {
            hasAcl |= name == kAclAttribute;
            std::error_code reason;
            const std::optional<std::string> value = AttributeValue(oldPath, name, reason);
            if (value && ::fsetxattr(fd, name.c_str(), value->data(), value->size(), 0) != 0) reason = LastError();
            if (reason) report(KeepProblem::Kind::Attribute, name, reason);
        }
    }
    // A new file may inherit an ACL from its folder that the old one did not have.
    if (!hasAcl) std::ignore = ::fremovexattr(fd, std::string(kAclAttribute).c_str());
    if (info.links > 1) report(KeepProblem::Kind::OtherNames, std::to_string(info.links - 1), {});
    return changed;
}

// Writes a staged file at offsets of its own.
class PositionalWriter final : public StagedWriter {
public:
    explicit PositionalWriter(int fd) : m_fd(fd) {}
    std::error_code Write(std::string_view bytes) override {
        while (!bytes.empty()) {
            const ssize_t n = ::pwrite(m_fd, bytes.data(), bytes.size(), static_cast<off_t>(m_offset));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return LastError();
            m_offset += static_cast<std::uint64_t>(n);
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return {};
    }
    std::error_code Seek(std::uint64_t offset) override {
        m_offset = offset;
        return {};
    }
    std::uint64_t Tell() const override { return m_offset; }
    std::error_code ReadAt(std::uint64_t offset, char* buffer, std::size_t length, std::size_t& got) override {
        return sys::ReadAt(m_fd, offset, buffer, length, got);
    }

private:
    int m_fd;
    std::uint64_t m_offset = 0;
};

}  // namespace

struct SessionState {
    WriteBack writeBack;
    // File systems touched by commits since the last SyncNames, each with a folder on it.
    std::map<std::uint64_t, FolderRef> touched;
    std::error_code failed;  // a sync of names that failed, kept for the next report
};

SessionState* MakeSessionState() {
    return new SessionState();
}

void EndSessionState(SessionState* state) {
    delete state;
}

std::size_t StagedFileBound() {
    // Half of what the process may open (main raises the limit at its start),
    // so that the rest of the run has room.
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 64;
    const rlim_t usable = limit.rlim_cur == RLIM_INFINITY ? 65536 : limit.rlim_cur;
    return std::clamp<std::size_t>(static_cast<std::size_t>(usable / 2), 16, 8192);
}

std::error_code InspectTarget(const Place& target, TargetInfo& info) {
    info = {};
    if (target.kind == EntryKind::folder) return std::make_error_code(std::errc::is_a_directory);
    if (target.kind != EntryKind::file) return {};  // new, or a dangling link replaced as it stands
    struct stat st {};
    if (::fstatat(Fd(*target.folder), target.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? std::error_code{} : LastError();
    }
    if (S_ISDIR(st.st_mode)) return std::make_error_code(std::errc::is_a_directory);
    if (!S_ISREG(st.st_mode)) return {};
    if ((st.st_mode & S_IWUSR) == 0) return std::make_error_code(std::errc::permission_denied);
    info = {true,
            static_cast<std::uint32_t>(st.st_mode & 07777),
            st.st_uid,
            st.st_gid,
            static_cast<std::uint64_t>(st.st_nlink),
            static_cast<std::uint64_t>(st.st_size),
            Nanoseconds(st.st_mtim)};
    return {};
}

std::error_code DescribeSource(const Place& source, SourceFacts& facts) {
    if (!source.folder || source.name.empty()) return std::make_error_code(std::errc::is_a_directory);
    struct stat st {};
    std::error_code ec;
    const UniqueFd in = write::OpenRegularAt(Fd(*source.folder), source.name.c_str(), write::AtLink::refuse, st, ec);
    if (!in) return ec;
    facts = {static_cast<std::uint32_t>(st.st_mode & 07777), static_cast<std::uint64_t>(st.st_size),
             Nanoseconds(st.st_atim), Nanoseconds(st.st_mtim)};
    return {};
}

std::error_code TakeSourceFacts(const Place& target, const SourceFacts& facts) {
    UniqueFd fd(::openat(Fd(*target.folder), target.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) return LastError();
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) return LastError();
    if (!S_ISREG(st.st_mode)) return MakeError(FileError::notRegularFile);
    if ((st.st_mode & 07777) != facts.mode && ::fchmod(fd.Get(), facts.mode) != 0) return LastError();
    const std::array<struct timespec, 2> times{Timespec(facts.accessed), Timespec(facts.modified)};
    if (::futimens(fd.Get(), times.data()) != 0) return LastError();
    return {};
}

std::error_code MakeStagedFile(SessionState& state, const Place& target, const TargetInfo& info,
                               const ContentSource& source, const StagedFile* previous,
                               std::shared_ptr<StagedFile>& made, StagedFacts& facts) {
    std::error_code ec;
    UniqueFd in;
    struct stat copied {};
    if (source.copyOf != nullptr) {
        const Place& from = *source.copyOf;
        if (!from.folder || from.name.empty()) return std::make_error_code(std::errc::is_a_directory);
        in = write::OpenRegularAt(Fd(*from.folder), from.name.c_str(), write::AtLink::refuse, copied, ec);
        if (!in) return ec;
    }
    auto file = std::make_shared<StagedFile>();
    file->folder = target.folder;
    const HeldFolder& folder = *target.folder;
    if (!info.exists && ::geteuid() == 0) {
        // Files come folder by folder: the one staged before knows the owner.
        file->folderOwnerOf = folder.Identity();
        if (previous != nullptr && previous->folderOwner && previous->folderOwnerOf == folder.Identity()) {
            file->folderOwner = previous->folderOwner;
        } else if (struct stat owner{}; ::fstat(Fd(folder), &owner) == 0) {
            file->folderOwner = std::make_pair(owner.st_uid, owner.st_gid);
        }
    }
    file->fd = OpenStagingFile(folder, file->tempName, ec);
    if (!file->fd) return ec;
    const int fd = file->fd.Get();
    const auto fail = [&](std::error_code why) {
        DropStagedFile(state, *file);
        return why;
    };
    struct stat created {};
    if (::fstat(fd, &created) != 0) return fail(LastError());
    std::optional<mode_t> mode;
    if (source.copyOf != nullptr) {
        mode = copied.st_mode & 07777;
    } else if (info.exists) {
        mode = info.mode;
    } else if (!file->tempName.empty()) {
        mode = 0666 & ~write::CurrentUmask();  // an unnamed file was created with the usual bits already
    }
    // A copy is left to the write-back thread, but for one with set-user or
    // set-group bits: writing the content would clear those, so it comes first.
    const bool copyLater = in && (*mode & (S_ISUID | S_ISGID)) == 0;
    if (in && !copyLater) {
        if ((ec = write::CopyContent(in.Get(), fd))) return fail(ec);
    }
    if ((ec = write::WriteAll(fd, source.bytes))) return fail(ec);
    if (source.fill != nullptr) {
        PositionalWriter writer(fd);
        if ((ec = (*source.fill)(writer))) return fail(ec);
    }
    UniqueFd old;
    if (info.exists) old = UniqueFd(::openat(Fd(folder), target.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    const bool chowned =
        KeepOwnership(fd, target, info, old ? old.Get() : -1, file->folderOwner, created, facts.problems);
    // Bits after the owner, which clears the set-user and set-group bits.
    if (mode && (chowned || (created.st_mode & 07777) != *mode) && ::fchmod(fd, *mode) != 0) return fail(LastError());
    // A copy takes the source's last-access and last-write times.
    const std::array<struct timespec, 2> times{copied.st_atim, copied.st_mtim};
    if (in && !copyLater && ::futimens(fd, times.data()) != 0) return fail(LastError());
    facts.device = static_cast<std::uint64_t>(created.st_dev);
    facts.bytes = source.bytes.size() + (in ? static_cast<std::uint64_t>(copied.st_size) : 0);
    if (source.fill != nullptr) {
        struct stat filled {};
        if (::fstat(fd, &filled) == 0) facts.bytes = static_cast<std::uint64_t>(filled.st_size);
    }
    made = file;
    if (copyLater) {
        state.writeBack.StartCopy(std::move(file), std::move(in), times);
    } else {
        // Start the write-back now, so that Commit's wait finds most of it done.
        state.writeBack.Start(std::move(file));
    }
    return {};
}

std::optional<std::string> ReadStagedFile(SessionState& state, const StagedFile& file) {
    if (file.filling) state.writeBack.Wait();
    if (file.fillFailure) return std::nullopt;
    std::string bytes;
    char buffer[65536];
    while (true) {
        const ssize_t n = ::pread(file.fd.Get(), buffer, sizeof buffer, static_cast<off_t>(bytes.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) return bytes;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

std::error_code ReadStagedAt(SessionState& state, const StagedFile& file, std::uint64_t offset, char* buffer,
                             std::size_t length, std::size_t& got) {
    if (file.filling) state.writeBack.Wait();
    if (file.fillFailure) return file.fillFailure;
    return ReadAt(file.fd.Get(), offset, buffer, length, got);
}

void DropStagedFile(SessionState& state, StagedFile& file) {
    if (file.filling) state.writeBack.Wait();
    // Still locked: no other run took it.
    if (!file.tempName.empty()) std::ignore = ::unlinkat(Fd(*file.folder), file.tempName.c_str(), 0);
    file.tempName.clear();
    file.fd.Reset();
}

void WaitUntilFilled(SessionState& state) {
    state.writeBack.Wait();
}

std::error_code FillFailure(const StagedFile& file) {
    return file.fillFailure;
}

std::error_code MakeDurable(SessionState&, const std::vector<StagedFile*>& files) {
    // A file alone waits for itself only, several share one sync of their file system.
    if (files.empty()) return {};
    const int fd = files.front()->fd.Get();
    return files.size() == 1 ? Retrying(::fsync, fd) : Retrying(::syncfs, fd);
}

std::error_code PutInPlace(SessionState& state, StagedFile& file, const Place& target, bool existed,
                           listings::ChangeBatch& batch) {
    const HeldFolder& folder = *target.folder;
    listings::FolderChange change(folder, &batch);
    const auto placed = [&] {
        file.tempName.clear();
        change.Added(target.name, false);
        state.touched.insert_or_assign(folder.Identity().device, target.folder);
        return std::error_code{};
    };
    std::string tempName = file.tempName;
    if (tempName.empty()) {
        // A new file is linked in under its own name, which puts it in place
        // whole; only if that name was taken since does it go the way of a
        // replaced one.
        if (!existed) {
            const std::error_code ec = LinkUnnamed(file.fd.Get(), folder, target.name);
            if (!ec) return placed();
            if (ec != std::errc::file_exists) {
                change.Forget();
                return ec;
            }
        }
        // Otherwise the unnamed file gets a temporary name first: a rename
        // over the target is the one step that puts it in place whole.
        std::error_code ec = std::make_error_code(std::errc::file_exists);
        for (int attempt = 0; attempt < 100 && ec == std::errc::file_exists; ++attempt) {
            tempName = write::RandomTempName();
            ec = LinkUnnamed(file.fd.Get(), folder, tempName);
        }
        if (ec) {
            change.Forget();
            return ec;
        }
        file.tempName = tempName;
    }
    if (::renameat(Fd(folder), tempName.c_str(), Fd(folder), target.name.c_str()) != 0) {
        const std::error_code ec = LastError();
        change.Forget();
        return ec;  // dropping the file removes the temporary name
    }
    return placed();
}

void NoteRemoved(SessionState& state, const Place& target) {
    state.touched.insert_or_assign(target.folder->Identity().device, target.folder);
}

std::error_code SyncNames(SessionState& state, SyncReport report) {
    std::error_code first = std::exchange(state.failed, {});
    for (const auto& [device, folder] : std::exchange(state.touched, {})) {
        // syncfs takes an open folder, not a held one.
        const UniqueFd fd(::openat(Fd(*folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        const std::error_code ec = fd ? Retrying(::syncfs, fd.Get()) : LastError();
        if (ec && !first) first = ec;
    }
    if (report == SyncReport::now) return first;
    state.failed = first;
    return {};
}

}  // namespace platform::sys
