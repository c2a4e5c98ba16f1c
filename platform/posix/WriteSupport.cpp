#include "platform/posix/WriteSupport.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>
#include <tuple>

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

std::string RandomTempName() {
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
    return name;
}

UniqueFd CreateLockedTempAt(int dirFd, std::string& tempName, std::error_code& ec) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempName = RandomTempName();
        UniqueFd fd(::openat(dirFd, tempName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd) {
            if (errno == EEXIST) continue;
            ec = LastError();
            return {};
        }
        if (::flock(fd.Get(), LOCK_EX) != 0) {
            ec = LastError();
            std::ignore = ::unlinkat(dirFd, tempName.c_str(), 0);
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

UniqueFd CreateLockedTemp(const std::string& folder, std::string& tempPath, std::error_code& ec) {
    const UniqueFd dir(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dir) {
        ec = LastError();
        return {};
    }
    std::string name;
    UniqueFd fd = CreateLockedTempAt(dir.Get(), name, ec);
    if (fd) tempPath = JoinPath(folder, name);
    return fd;
}

UniqueFd OpenRegularAt(int dirFd, const char* name, AtLink link, struct stat& st, std::error_code& ec) {
    ec.clear();
    // Without blocking, so that a FIFO or a device cannot hold the run.
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (link == AtLink::refuse ? O_NOFOLLOW : 0);
    UniqueFd fd(::openat(dirFd, name, flags));
    if (!fd) {
        // A link met with O_NOFOLLOW, where it is refused.
        ec = errno == ELOOP && link == AtLink::refuse ? MakeError(FileError::notRegularFile) : LastError();
        return {};
    }
    if (::fstat(fd.Get(), &st) != 0) {
        ec = LastError();
        return {};
    }
    if (!S_ISREG(st.st_mode)) {
        ec = S_ISDIR(st.st_mode) ? std::make_error_code(std::errc::is_a_directory)
                                 : MakeError(FileError::notRegularFile);
        return {};
    }
    // Reads go on blocking as usual: a regular file never waits for a writer.
    const int status = ::fcntl(fd.Get(), F_GETFL);
    if (status < 0 || ::fcntl(fd.Get(), F_SETFL, status & ~O_NONBLOCK) != 0) {
        ec = LastError();
        return {};
    }
    return fd;
}

}  // namespace platform::write
