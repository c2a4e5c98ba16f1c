#include "platform/Process.h"

#include <unistd.h>

#include <csignal>

namespace platform {

void PrepareCommandLineProcess() {
    // A closed standard output (`quarvel-batch ... | head -1`) must never stop
    // a run halfway: the write fails with EPIPE instead, and is ignored.
    std::signal(SIGPIPE, SIG_IGN);
    // Past a file-size limit a write should fail with EFBIG like any other
    // write error, not end the run halfway.
    std::signal(SIGXFSZ, SIG_IGN);
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

bool StandardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) != 0;
}

}  // namespace platform
