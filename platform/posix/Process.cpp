#include "platform/Process.h"

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <tuple>

namespace platform {

void PrepareCommandLineProcess() {
    // A closed standard output (`quarvel-batch ... | head -1`) must never stop
    // a run halfway: the write fails with EPIPE instead, and is ignored.
    std::signal(SIGPIPE, SIG_IGN);
    // Past a file-size limit a write should fail with EFBIG like any other
    // write error, not end the run halfway.
    std::signal(SIGXFSZ, SIG_IGN);
}

void RaiseOpenFileLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    std::ignore = ::setrlimit(RLIMIT_NOFILE, &limit);  // the limit as it was serves too, only with smaller commits
}

std::uint64_t CommitBytesFromEnvironment(std::uint64_t fallback) {
    const char* text = std::getenv("QUARVEL_COMMIT_BYTES");
    if (text == nullptr || *text == '\0') return fallback;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    return *end == '\0' && value > 0 ? static_cast<std::uint64_t>(value) : fallback;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

bool StandardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) != 0;
}

}  // namespace platform
