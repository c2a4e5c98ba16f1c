#include "platform/posix/WriteSupport.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>

#include "platform/FileSystem.h"

namespace platform::write {

std::error_code LastError() {
    return {errno, std::generic_category()};
}

std::error_code WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return LastError();
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

std::error_code CopyContent(int in, int out) {
    while (true) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, std::size_t{1} << 30, 0);
        if (n > 0) continue;
        if (n == 0) return {};
        if (errno == EINTR) continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) return LastError();
        break;  // not on this file system: plain reads and writes from where it stopped
    }
    char buffer[65536];
    while (true) {
        const ssize_t r = ::read(in, buffer, sizeof buffer);
        if (r == 0) return {};
        if (r < 0) {
            if (errno == EINTR) continue;
            return LastError();
        }
        if (const std::error_code ec = WriteAll(out, std::string_view(buffer, static_cast<std::size_t>(r)))) return ec;
    }
}

mode_t CurrentUmask() {
    static const mode_t mask = [] {
        const mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }();
    return mask;
}

std::error_code PrepareTarget(const std::string& path, std::string& target, struct stat& st, bool& exists) {
    exists = false;
    struct stat lst {};
    // A path there as spelled (most are) takes one look; a missing one is
    // looked for in other letter cases.
    target = path;
    if (::lstat(target.c_str(), &lst) != 0) {
        target = ResolveMissingCase(path);
        if (target == path || ::lstat(target.c_str(), &lst) != 0) return {};
    }
    if (S_ISLNK(lst.st_mode)) {
        if (::stat(target.c_str(), &st) != 0) return {};  // dangling link: replace the link itself
        char* real = ::realpath(target.c_str(), nullptr);
        if (real != nullptr) {
            target = real;
            std::free(real);
        }
    } else {
        st = lst;
    }
    exists = true;
    if (S_ISDIR(st.st_mode)) return std::make_error_code(std::errc::is_a_directory);
    if ((st.st_mode & S_IWUSR) == 0) return std::make_error_code(std::errc::permission_denied);
    return {};
}

std::string RandomTempPath(const std::string& folder) {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 random = [] {
        std::uint64_t seed = 0;
        if (::getrandom(&seed, sizeof seed, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof seed)) {
            seed = std::random_device{}() ^ static_cast<std::uint64_t>(::getpid());
        }
        return std::mt19937_64(seed);
    }();
    std::string name = ".quarvel-XXXXXX.tmp";
    for (std::size_t i = 9; i < 15; ++i) name[i] = kLetters[random() % (sizeof kLetters - 1)];
    return JoinPath(folder, name);
}

UniqueFd CreateLockedTemp(const std::string& folder, std::string& tempPath, std::error_code& ec) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = RandomTempPath(folder);
        UniqueFd fd(::open(tempPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!fd) {
            if (errno == EEXIST) continue;
            ec = LastError();
            return {};
        }
        if (::flock(fd.Get(), LOCK_EX) != 0) {
            ec = LastError();
            ::unlink(tempPath.c_str());
            return {};
        }
        // Another run may have taken the file for a leftover in the moment
        // before it was locked; then it is gone and another name is tried.
        struct stat st {};
        if (::fstat(fd.Get(), &st) == 0 && st.st_nlink > 0) return fd;
    }
    ec = std::make_error_code(std::errc::file_exists);
    return {};
}

UniqueFd OpenRegularForReading(const std::string& path, struct stat& st, std::error_code& ec) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd && errno == ENOENT) {
        // Not there as spelled: perhaps in another letter case.
        const std::string resolved = ResolveMissingCase(path);
        if (resolved != path) fd = UniqueFd(::open(resolved.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (!fd && resolved == path) errno = ENOENT;
    }
    if (!fd) {
        ec = LastError();
        return {};
    }
    if (::fstat(fd.Get(), &st) != 0) {
        ec = LastError();
        return {};
    }
    if (!S_ISREG(st.st_mode)) {
        ec = std::make_error_code(S_ISDIR(st.st_mode) ? std::errc::is_a_directory : std::errc::invalid_argument);
        return {};
    }
    return fd;
}

}  // namespace platform::write
