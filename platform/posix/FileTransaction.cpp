#include "platform/FileTransaction.h"

#include <fcntl.h>
#include <pthread.h>
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
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <tuple>

#include "platform/FileSystem.h"
#include "platform/FolderListings.h"
#include "platform/Text.h"
#include "platform/posix/WriteSupport.h"

namespace platform {
namespace {

using write::LastError;

constexpr std::string_view kAclAttribute = "system.posix_acl_access";

// How many files may be staged at once: each holds a descriptor, so half of
// what the process may open, raised once to the most the system allows.
std::size_t StagedFileBound() {
    static const std::size_t bound = [] {
        struct rlimit limit {};
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return std::size_t{64};
        if (limit.rlim_cur < limit.rlim_max) {
            struct rlimit raised = limit;
            raised.rlim_cur = limit.rlim_max;
            if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
        }
        const rlim_t usable = limit.rlim_cur == RLIM_INFINITY ? 65536 : limit.rlim_cur;
        return std::clamp<std::size_t>(static_cast<std::size_t>(usable / 2), 16, 8192);
    }();
    return bound;
}

// File systems touched by commits since the last SyncNames, each with a folder on it.
struct TouchedFileSystems {
    std::mutex mutex;
    std::map<dev_t, std::string> folders;
    std::error_code failed;  // a sync of names that failed since the last SyncNames
};
TouchedFileSystems& Touched() {
    static TouchedFileSystems touched;
    return touched;
}

void NoteTouched(dev_t device, const std::string& folder) {
    TouchedFileSystems& touched = Touched();
    const std::lock_guard lock(touched.mutex);
    touched.folders.insert_or_assign(device, folder);
}

// Fills staged files copied from others and starts their write-back on a
// thread of its own, so that the disk and the kernel's copy are busy while
// the run reads and stages the next files instead of waiting at each commit.
// A staged descriptor is closed only after Wait, so the thread never reaches
// a number that was closed and given to another file.
class WriteBack {
public:
    static WriteBack& Instance() {
        static WriteBack writeBack;
        return writeBack;
    }

    // Starts the write-back of `fd`, whose content is all written.
    void Start(int fd) { Hand({fd, -1, {}, nullptr}); }

    // Copies the rest of `source` into `fd` (closing `source`), gives it
    // `times` and starts its write-back; a failure lands in `*error`, which
    // must stay in place until Wait returns.
    void StartCopy(int fd, UniqueFd source, const std::array<struct timespec, 2>& times, std::error_code* error) {
        Hand({fd, source.Release(), times, error});
    }

    // Returns once every job handed over is done with.
    void Wait() {
        std::unique_lock lock(m_mutex);
        m_idle.wait(lock, [this] { return m_queue.empty() && !m_busy; });
    }

    ~WriteBack() {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
            if (m_thread) m_wake.notify_one();
        }
        if (m_thread && m_thread->joinable()) m_thread->join();
    }

private:
    struct Job {
        int fd;
        int source;  // -1, or a file to copy into fd first (the job closes it)
        std::array<struct timespec, 2> times;
        std::error_code* error;
    };

    // Jobs waiting at most; each may hold a source open, and a run that
    // stages faster than the disk takes waits here rather than at the commit.
    static constexpr std::size_t kMaxQueued = 64;

    // A child forked while the thread runs has no such thread, and the
    // condition variables may count the parent's thread among their waiters:
    // the child does its jobs itself and leaves the parent's to the parent.
    WriteBack() { ::pthread_atfork(&BeforeFork, &AfterForkInParent, &AfterForkInChild); }
    static void BeforeFork() { Instance().m_mutex.lock(); }
    static void AfterForkInParent() { Instance().m_mutex.unlock(); }
    static void AfterForkInChild() {
        WriteBack& self = Instance();
        std::ignore = self.m_thread.release();  // not this process's thread: neither joined nor ended here
        self.m_queue.clear();
        self.m_busy = false;
        self.m_inline = true;
        self.m_mutex.unlock();
    }

    static void Do(const Job& job) {
        if (job.source >= 0) {
            std::error_code ec = write::CopyContent(job.source, job.fd);
            ::close(job.source);
            if (!ec && ::futimens(job.fd, job.times.data()) != 0) ec = LastError();
            if (ec) {
                *job.error = ec;
                return;
            }
        }
        std::ignore = ::sync_file_range(job.fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    }

    void Hand(const Job& job) {
        {
            std::unique_lock lock(m_mutex);
            if (!m_thread && !m_inline) {
                try {
                    m_thread = std::make_unique<std::thread>([this] { Work(); });
                } catch (const std::system_error&) {
                    m_inline = true;  // no thread to be had: do it here
                }
            }
            if (!m_inline) {
                m_room.wait(lock, [this] { return m_queue.size() < kMaxQueued; });
                m_queue.push_back(job);
                if (m_waiting) m_wake.notify_one();
                return;
            }
        }
        Do(job);
    }

    void Work() {
        std::unique_lock lock(m_mutex);
        while (true) {
            m_waiting = true;
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            m_waiting = false;
            if (m_queue.empty()) return;
            const Job job = m_queue.front();
            m_queue.pop_front();
            m_busy = true;
            lock.unlock();
            m_room.notify_one();
            Do(job);
            lock.lock();
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
    bool m_waiting = false;
    bool m_stop = false;
    bool m_inline = false;
    std::unique_ptr<std::thread> m_thread;
};

std::error_code Retrying(int (*call)(int), int fd) {
    while (call(fd) != 0) {
        if (errno != EINTR) return LastError();
    }
    return {};
}

// An unnamed file in `folder`, locked from the start; where the file system
// has no unnamed files, a locked temporary one (its name in `tempPath`).
UniqueFd OpenStagingFile(const std::string& folder, std::string& tempPath, std::error_code& ec) {
    tempPath.clear();
    UniqueFd fd(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
    if (!fd) {
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            ec = LastError();
            return {};
        }
        return write::CreateLockedTemp(folder, tempPath, ec);
    }
    if (::flock(fd.Get(), LOCK_EX) != 0) {
        ec = LastError();
        return {};
    }
    return fd;
}

// Gives the unnamed file `fd` the name `path`: straight from the descriptor
// where the process may (it saves looking the descriptor up in /proc), else
// through /proc. Either fails with ENOENT when it cannot be used at all.
std::error_code LinkUnnamed(int fd, const std::string& path) {
    static std::atomic<bool> direct = true;
    if (direct && ::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0) return {};
    if (direct && errno != ENOENT) return LastError();
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        direct = false;  // the direct way was refused, not the name
        return {};
    }
    return LastError();
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

// An owner and group, as a replaced file or a new file's folder has them.
struct Owner {
    uid_t uid;
    gid_t gid;
};

// Gives the staged file `fd` (as `created` describes it) the owner, group
// and extended attributes it should keep: those of `old`, the file it
// replaces, or for a new file `folderOwner` (where it is known). Records what
// could not be kept. Returns whether it changed the owner or group, which
// clears the set-user and set-group bits.
bool KeepOwnership(int fd, const std::string& target, const struct stat* old, const std::optional<Owner>& folderOwner,
                   const struct stat& created, std::vector<KeepProblem>& problems) {
    const auto report = [&](KeepProblem::Kind kind, std::string detail, std::error_code reason) {
        problems.push_back({target, kind, std::move(detail), reason});
    };
    std::optional<uid_t> uid;
    std::optional<gid_t> gid;
    if (old != nullptr) {
        uid = old->st_uid;
        gid = old->st_gid;
    } else if (folderOwner) {
        uid = folderOwner->uid;
        gid = folderOwner->gid;
    }
    bool changed = false;
    if (uid && (created.st_uid != *uid || created.st_gid != *gid)) {
        changed = true;
        if (::fchown(fd, *uid, *gid) != 0) {
            const std::error_code reason = LastError();
            // The group alone may still be possible (one the user belongs to).
            if (created.st_gid != *gid) std::ignore = ::fchown(fd, static_cast<uid_t>(-1), *gid);
            struct stat now = created;
            ::fstat(fd, &now);
            if (now.st_uid != *uid) report(KeepProblem::Kind::Owner, std::to_string(*uid), reason);
            if (now.st_gid != *gid) report(KeepProblem::Kind::Group, std::to_string(*gid), reason);
        }
    }
    if (old == nullptr) return changed;
    const std::vector<std::string> names = AttributeNames(target);
    bool hasAcl = false;
    for (const std::string& name : names) {
        hasAcl |= name == kAclAttribute;
        std::error_code reason;
        const std::optional<std::string> value = AttributeValue(target, name, reason);
        if (value && ::fsetxattr(fd, name.c_str(), value->data(), value->size(), 0) != 0) reason = LastError();
        if (reason) report(KeepProblem::Kind::Attribute, name, reason);
    }
    // A new file may inherit an ACL from its folder that the old one did not have.
    if (!hasAcl) std::ignore = ::fremovexattr(fd, std::string(kAclAttribute).c_str());
    if (old->st_nlink > 1) {
        report(KeepProblem::Kind::OtherNames, std::to_string(old->st_nlink - 1), {});
    }
    return changed;
}

}  // namespace

struct FileTransaction::Staged {
    std::string target;    // the final path
    UniqueFd fd;           // the new content, locked
    std::string tempPath;  // where no unnamed file could be made: its temporary name
    bool existed = false;  // the target was there when staged
    dev_t device = 0;
    std::uint64_t bytes = 0;
    std::vector<KeepProblem> problems;
    // A new file created as root: the owner of its folder, which it takes.
    std::optional<Owner> folderOwner;
    // Where the write-back thread fills the file: why it could not (kept in
    // one place while the entry moves).
    std::unique_ptr<std::error_code> copyFailure;
};

struct FileTransaction::Source {
    std::string_view bytes;
    UniqueFd* copyFrom = nullptr;  // or a file whose rest is copied (taken over)
    const struct stat* copied = nullptr;
};

FileTransaction::FileTransaction(std::uint64_t commitBytes) : m_commitBytes(commitBytes) {
    StagedFileBound();
}

std::error_code FileTransaction::Stage(const std::string& target, std::string_view bytes, const PathEntry* seen) {
    return StageFrom(target, {bytes, nullptr, nullptr}, seen);
}

std::error_code FileTransaction::StageCopy(const std::string& target, const std::string& source,
                                           const PathEntry* seen) {
    std::error_code ec;
    struct stat st {};
    UniqueFd in = write::OpenRegularForReading(source, st, ec);
    if (!in) return ec;
    return StageFrom(target, {{}, &in, &st}, seen);
}

std::error_code FileTransaction::StageFrom(const std::string& path, const Source& source, const PathEntry* seen) {
    std::string target;
    struct stat st {};
    bool exists = false;
    if (seen != nullptr && seen->kind == EntryKind::missing) {
        target = seen->resolved;
    } else if (const std::error_code ec = write::PrepareTarget(path, target, st, exists)) {
        return ec;
    }
    if (!exists) {
        // A new file staged before under another letter case is the same file.
        if (const auto index = IndexOf(target, exists)) target = m_staged[*index].target;
    }

    Staged staged;
    staged.target = target;
    staged.existed = exists;
    const std::string folder = ParentPath(target);
    if (!exists && ::geteuid() == 0) {
        // Files come folder by folder: the one staged before knows the owner.
        if (!m_staged.empty() && m_staged.back().folderOwner && ParentPath(m_staged.back().target) == folder) {
            staged.folderOwner = m_staged.back().folderOwner;
        } else if (struct stat owner{}; ::stat(folder.c_str(), &owner) == 0) {
            staged.folderOwner = Owner{owner.st_uid, owner.st_gid};
        }
    }
    std::error_code ec;
    staged.fd = OpenStagingFile(folder, staged.tempPath, ec);
    if (!staged.fd) return ec;
    const int fd = staged.fd.Get();
    struct stat created {};
    if (::fstat(fd, &created) != 0) ec = LastError();
    std::optional<mode_t> mode;
    if (source.copied != nullptr) {
        mode = source.copied->st_mode & 07777;
    } else if (exists) {
        mode = st.st_mode & 07777;
    } else if (!staged.tempPath.empty()) {
        mode = 0666 & ~write::CurrentUmask();  // an unnamed file was created with the usual bits already
    }
    // A copy is left to the write-back thread, but for one with set-user or
    // set-group bits: writing the content would clear those, so it comes first.
    const bool copyLater = source.copyFrom != nullptr && (*mode & (S_ISUID | S_ISGID)) == 0;
    if (!ec && source.copyFrom != nullptr && !copyLater) ec = write::CopyContent(source.copyFrom->Get(), fd);
    if (!ec) ec = write::WriteAll(fd, source.bytes);
    bool chowned = false;
    if (!ec) chowned = KeepOwnership(fd, target, exists ? &st : nullptr, staged.folderOwner, created, staged.problems);
    // Bits after the owner, which clears the set-user and set-group bits.
    if (!ec && mode && (chowned || (created.st_mode & 07777) != *mode) && ::fchmod(fd, *mode) != 0) ec = LastError();
    // A copy takes the source's last-access and last-write times.
    std::array<struct timespec, 2> times{};
    if (source.copied != nullptr) times = {source.copied->st_atim, source.copied->st_mtim};
    if (!ec && source.copied != nullptr && !copyLater && ::futimens(fd, times.data()) != 0) ec = LastError();
    if (ec) {
        Drop(staged);
        return ec;
    }
    staged.device = created.st_dev;
    if (copyLater) {
        staged.bytes = static_cast<std::uint64_t>(source.copied->st_size);
        staged.copyFailure = std::make_unique<std::error_code>();
        WriteBack::Instance().StartCopy(fd, std::move(*source.copyFrom), times, staged.copyFailure.get());
    } else {
        staged.bytes = source.bytes.size();
        if (source.copied != nullptr) staged.bytes += static_cast<std::uint64_t>(source.copied->st_size);
        // Start the write-back now, so that Commit's wait finds most of it done.
        WriteBack::Instance().Start(fd);
    }

    CancelRemoval(path);
    Keep(std::move(staged), exists);
    return {};
}

const FileTransaction::Staged* FileTransaction::Find(const std::string& target) const {
    std::string resolved;
    struct stat st {};
    bool exists = false;
    std::ignore = write::PrepareTarget(target, resolved, st, exists);
    const std::optional<std::size_t> index = IndexOf(resolved, exists);
    if (!index || !m_staged[*index].fd) return nullptr;
    return &m_staged[*index];
}

std::optional<std::string> FileTransaction::ReadStaged(const std::string& target) const {
    const Staged* staged = Find(target);
    if (staged == nullptr) return std::nullopt;
    if (staged->copyFailure) {
        WriteBack::Instance().Wait();  // the copy is filling it
        if (*staged->copyFailure) return std::nullopt;
    }
    std::string bytes;
    char buffer[65536];
    while (true) {
        const ssize_t n = ::pread(staged->fd.Get(), buffer, sizeof buffer, static_cast<off_t>(bytes.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) return bytes;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

bool FileTransaction::Full() const {
    return m_staged.size() >= StagedFileBound() || m_stagedBytes >= m_commitBytes;
}

bool FileTransaction::IsHeld(const Staged& staged) {
    return static_cast<bool>(staged.fd);
}

void FileTransaction::Drop(Staged& staged) {
    if (staged.fd) WriteBack::Instance().Wait();
    if (!staged.tempPath.empty()) ::unlink(staged.tempPath.c_str());  // still locked: no other run took it
    staged.fd.Reset();
    staged.tempPath.clear();
}

std::vector<CommitFailure> FileTransaction::Commit() {
    std::vector<CommitFailure> failures;
    // One wait per file system for all of its staged files: a file alone
    // waits for itself only, several share one sync of their file system.
    std::map<dev_t, std::vector<Staged*>> byDevice;
    for (Staged& staged : m_staged) {
        if (IsHeld(staged)) byDevice[staged.device].push_back(&staged);  // not what was unstaged again
    }
    WriteBack::Instance().Wait();
    for (auto& [device, group] : byDevice) {
        // A copy that failed on the way keeps the old file.
        std::erase_if(group, [&](Staged* staged) {
            if (!staged->copyFailure || !*staged->copyFailure) return false;
            failures.push_back({staged->target, *staged->copyFailure, false, true});
            Drop(*staged);
            return true;
        });
        if (group.empty()) continue;
        const int fd = group.front()->fd.Get();
        const std::error_code ec = group.size() == 1 ? Retrying(::fsync, fd) : Retrying(::syncfs, fd);
        if (!ec) continue;
        for (Staged* staged : group) {
            failures.push_back({staged->target, ec});
            Drop(*staged);
        }
    }
    PutAllInPlace(failures);
    // The replaced and deleted files' space is free once their names are
    // gone; ext4 without ordered data hands it to the next content written at
    // once, so the names must be on the disk before any of it is. A failure
    // is reported by the run's last SyncNames.
    if (const std::error_code ec = SyncNames()) {
        TouchedFileSystems& touched = Touched();
        const std::lock_guard lock(touched.mutex);
        if (!touched.failed) touched.failed = ec;
    }
    return failures;
}

void FileTransaction::Removed(const std::string& path) {
    const std::string folder = ParentPath(path);
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0) NoteTouched(st.st_dev, folder);
}

std::error_code FileTransaction::PutInPlace(Staged& staged) {
    const std::string folder = ParentPath(staged.target);
    listings::FolderChange change(folder);
    const auto placed = [&] {
        staged.tempPath.clear();
        change.Added(LastComponent(staged.target), false);
        NoteTouched(staged.device, folder);
        return std::error_code{};
    };
    std::string tempPath = staged.tempPath;
    if (tempPath.empty()) {
        // A new file is linked in under its own name, which puts it in place
        // whole; only if that name was taken since does it go the way of a
        // replaced one.
        if (!staged.existed) {
            const std::error_code ec = LinkUnnamed(staged.fd.Get(), staged.target);
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
            tempPath = write::RandomTempPath(folder);
            ec = LinkUnnamed(staged.fd.Get(), tempPath);
        }
        if (ec) {
            change.Forget();
            return ec;
        }
        staged.tempPath = tempPath;
    }
    if (::rename(tempPath.c_str(), staged.target.c_str()) != 0) {
        const std::error_code ec = LastError();
        change.Forget();
        return ec;  // the caller's Drop removes the temporary name
    }
    return placed();
}

std::error_code FileTransaction::SyncNames() {
    TouchedFileSystems& touched = Touched();
    std::map<dev_t, std::string> folders;
    std::error_code first;
    {
        const std::lock_guard lock(touched.mutex);
        folders.swap(touched.folders);
        std::swap(first, touched.failed);
    }
    for (const auto& [device, folder] : folders) {
        // The folder may be gone since (with the names in it); any folder
        // still on that file system will do.
        for (std::string on = folder;; on = ParentPath(on)) {
            const UniqueFd fd(::open(on.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            struct stat st {};
            if (fd && ::fstat(fd.Get(), &st) == 0 && st.st_dev == device) {
                const std::error_code ec = Retrying(::syncfs, fd.Get());
                if (ec && !first) first = ec;
                break;
            }
            if (on == ParentPath(on)) break;
        }
    }
    return first;
}

}  // namespace platform

#include "platform/FileTransactionBookkeeping.inc"
