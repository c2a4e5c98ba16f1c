#pragma once

#include <memory>
#include <system_error>

namespace platform {

namespace sys {
struct SessionState;
}

// What the file transactions of one run share: on Linux, the thread that
// fills staged copies and starts their write-back while the run goes on, and
// the file systems whose names commits changed since they were last made
// durable. The run owns one and hands it to its transactions; it outlives
// them. A process that forks makes its own in the child.
class WriteSession {
public:
    WriteSession();
    ~WriteSession();
    WriteSession(const WriteSession&) = delete;
    WriteSession& operator=(const WriteSession&) = delete;

    // Makes the names that commits put in place durable: one sync of each
    // file system touched since the last call (where the system needs one).
    // Returns the first failure, an earlier commit's own included.
    [[nodiscard]] std::error_code SyncNames();

    sys::SessionState& State() { return *m_state; }

private:
    std::unique_ptr<sys::SessionState, void (*)(sys::SessionState*)> m_state;
};

}  // namespace platform
