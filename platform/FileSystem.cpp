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
#include "platform/Text.h"
#include "platform/UniqueFd.h"
#include "platform/WriteSupport.h"

namespace platform {
namespace {

using write::LastError;

constexpr std::string_view kTempPrefix = ".quarvel-";
constexpr std::string_view kTempSuffix = ".tmp";

bool MatchFrom(std::string_view name, std::size_t n, std::string_view pattern, std::size_t p) {
    while (p < pattern.size()) {
        const char pc = pattern[p];
        if (pc == '*') {
            while (p < pattern.size() && pattern[p] == '*') ++p;
            if (p == pattern.size()) return true;
            for (std::size_t k = n; k <= name.size(); ++k) {
                if (MatchFrom(name, k, pattern, p)) return true;
            }
            return false;
        }
        if (n >= name.size()) return false;
        std::size_t nn = n, pp = p;
        const char32_t a = NextCodePoint(name, nn);
        const char32_t b = NextCodePoint(pattern, pp);
        if (b != '?' && ToUpperCodePoint(a) != ToUpperCodePoint(b)) return false;
        n = nn;
        p = pp;
    }
    return n == name.size();
}

}  // namespace

const std::error_category& FileCategory() {
    class Category final : public std::error_category {
    public:
        const char* name() const noexcept override { return "quarvel-file"; }
        std::string message(int value) const override {
            return value == static_cast<int>(FileError::notRegularFile) ? "not a regular file" : "unknown file error";
        }
    };
    static const Category category;
    return category;
}

std::error_code MakeError(FileError error) {
    return {static_cast<int>(error), FileCategory()};
}

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

bool IsWithin(std::string_view path, std::string_view folder) {
    if (folder == "/") return !path.empty() && path.front() == '/';
    return path.substr(0, folder.size()) == folder && (path.size() == folder.size() || path[folder.size()] == '/');
}

std::string ParentPath(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string LastComponent(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string JoinPath(const std::string& folder, std::string_view name) {
    std::string out = folder;
    if (out.empty() || out.back() != '/') out.push_back('/');
    out.append(name);
    return out;
}

int CompareNames(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const char32_t x = ToUpperCodePoint(NextCodePoint(a, i));
        const char32_t y = ToUpperCodePoint(NextCodePoint(b, j));
        if (x != y) return x < y ? -1 : 1;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return a.compare(b);  // names equal but for case: a fixed order all the same
}

bool MatchesWildcard(std::string_view name, std::string_view pattern) {
    if (pattern == "*" || pattern == "*.*") return true;
    return MatchFrom(name, 0, pattern, 0);
}

using listings::FindNameIgnoringCase;

namespace {

// ResolveCase for a path known not to exist as spelled.
std::string ResolveMissingCase(const std::string& path) {
    struct stat st {};
    // Usually only the last name is missing as spelled: look in its folder alone.
    const std::size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash + 1 < path.size()) {
        const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
        const std::string_view name = std::string_view(path).substr(slash + 1);
        if (const auto found = listings::LookUpNameIgnoringCase(parent, name)) {
            if (name == "." || name == "..") return path;
            return found->empty() ? path : JoinPath(parent, *found);
        }
    }
    const bool absolute = path.front() == '/';
    std::string current = absolute ? "/" : "";
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string::npos) end = path.size();
        const std::string_view component(path.data() + pos, end - pos);
        pos = end + 1;
        if (component.empty()) continue;
        std::string candidate = current.empty() ? std::string(component) : JoinPath(current, component);
        if (component == "." || component == ".." || ::lstat(candidate.c_str(), &st) == 0) {
            current = std::move(candidate);
            continue;
        }
        const std::string found = FindNameIgnoringCase(current.empty() ? "." : current, component);
        if (found.empty()) {
            // Nothing of that name: the rest of the path stays as given.
            current = std::move(candidate);
            if (pos <= path.size()) current = JoinPath(current, std::string_view(path).substr(pos));
            return current;
        }
        current = current.empty() ? found : JoinPath(current, found);
    }
    return current;
}

EntryKind KindOf(const struct stat& st) {
    if (S_ISREG(st.st_mode)) return EntryKind::file;
    if (S_ISDIR(st.st_mode)) return EntryKind::folder;
    if (S_ISLNK(st.st_mode)) return EntryKind::link;
    return EntryKind::special;
}

}  // namespace

std::string ResolveCase(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) == 0) return path;
    return ResolveMissingCase(path);
}

PathEntry InspectPath(const std::string& path) {
    PathEntry entry;
    struct stat st {};
    if (path.empty()) return entry;
    if (::lstat(path.c_str(), &st) == 0) {
        entry.resolved = path;
        entry.kind = KindOf(st);
        return entry;
    }
    entry.resolved = ResolveMissingCase(path);
    if (entry.resolved != path && ::lstat(entry.resolved.c_str(), &st) == 0) entry.kind = KindOf(st);
    return entry;
}

bool FindFirst(const std::string& path) {
    if (path.empty() || path.find_first_not_of('/') == std::string::npos) return false;
    struct stat st {};
    return ::lstat(ResolveCase(path).c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(ResolveCase(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(ResolveCase(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::vector<DirEntry> FindEntries(const std::string& folder, std::string_view pattern) {
    std::error_code ec;
    return FindEntries(folder, pattern, ec);
}

std::vector<DirEntry> FindEntries(const std::string& folder, std::string_view pattern, std::error_code& ec) {
    ec.clear();
    std::vector<DirEntry> entries;
    const std::string resolved = ResolveCase(folder);
    const std::vector<DirEntry>* listing = listings::List(resolved);
    if (listing == nullptr) {
        // Ask again for the reason the listing gave none.
        if (DIR* dir = ::opendir(resolved.c_str())) {
            ::closedir(dir);
            ec = std::make_error_code(std::errc::io_error);
        } else {
            ec = LastError();
        }
        return entries;
    }
    for (const DirEntry& entry : *listing) {
        if (MatchesWildcard(entry.name, pattern)) entries.push_back(entry);
    }
    return entries;
}

std::vector<DirEntry> FindEntries(const std::string& patternPath) {
    return FindEntries(ParentPath(patternPath), LastComponent(patternPath));
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

std::optional<std::string> ReadFileBytes(const std::string& path) {
    std::error_code ec;
    return ReadFileBytes(path, ec);
}

bool CanOpenForReading(const std::string& path) {
    struct stat st {};
    std::error_code ec;
    const int fd = OpenRegularFile(path, st, ec);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

namespace {

// A transaction of one file, committed at once: the file waits for its own
// durability alone.
std::error_code CommitOne(FileTransaction& transaction, std::error_code staged) {
    if (staged) return staged;
    const std::vector<CommitFailure> failures = transaction.Commit();
    return failures.empty() ? std::error_code{} : failures.front().error;
}

}  // namespace

std::error_code ReplaceFileSafely(const std::string& path, std::string_view bytes) {
    FileTransaction transaction;
    return CommitOne(transaction, transaction.Stage(path, bytes));
}

std::error_code CopyFileOver(const std::string& source, const std::string& destination) {
    FileTransaction transaction;
    return CommitOne(transaction, transaction.StageCopy(destination, source));
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

std::error_code AppendToExistingFile(const std::string& path, std::string_view bytes) {
    LockedAppend file;
    if (const std::error_code ec = file.Open(path, CreateIfMissing::no)) return ec;
    return file.Append(bytes);
}

std::error_code AppendUtf16LeText(const std::string& path, std::string_view text) {
    LockedAppend file;
    if (const std::error_code ec = file.Open(path, CreateIfMissing::yes)) return ec;
    return file.Append(Utf8ToUtf16Le(ReplaceAll(text, "\n", "\r\n")), "\xFF\xFE");
}

std::string EncodeUtf8TextStream(std::string_view text) {
    return "\xEF\xBB\xBF" + ReplaceAll(text, "\n", "\r\n");
}

bool IsSafeReplaceTempName(std::string_view name) {
    if (name.size() != kTempPrefix.size() + 6 + kTempSuffix.size()) return false;
    if (name.substr(0, kTempPrefix.size()) != kTempPrefix) return false;
    if (name.substr(name.size() - kTempSuffix.size()) != kTempSuffix) return false;
    const std::string_view middle = name.substr(kTempPrefix.size(), 6);
    return std::all_of(middle.begin(), middle.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
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

}  // namespace platform

namespace platform {

std::string AbsolutePath(const std::string& path) {
    std::string full = path;
    if (full.empty() || full.front() != '/') {
        std::string cwd(PATH_MAX, '\0');
        if (::getcwd(cwd.data(), cwd.size()) != nullptr) {
            cwd.resize(std::char_traits<char>::length(cwd.c_str()));
            full = JoinPath(cwd, path);
        }
    }
    std::vector<std::string_view> parts;
    std::string_view rest(full);
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string out;
    for (const std::string_view part : parts) {
        out.push_back('/');
        out.append(part);
    }
    return out.empty() ? "/" : out;
}

}  // namespace platform
