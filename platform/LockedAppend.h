#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace platform {

enum class CreateIfMissing { no, yes };

// Appends to a file in place under an exclusive lock, so that runs at the
// same time each keep all of their lines. Before the bytes go in, what they
// are is recorded durably in a small journal (beside the file, or in the
// user's state folder where the file's folder is not writable); an append
// that fails is cut back at once, and one that a kill or a power cut
// interrupted is cut back by the next append under the same lock, but only
// while nothing follows it: bytes another run appended since are never cut.
// Appended bytes are on the disk before Append returns.
class LockedAppend {
public:
    LockedAppend();
    LockedAppend(LockedAppend&&) noexcept;
    LockedAppend& operator=(LockedAppend&&) noexcept;
    ~LockedAppend();  // closing the file releases its lock

    // Opens `path` (the existing entry in any letter case, through links) and
    // takes its lock, waiting while another run holds it; an unfinished append
    // found in its journal is cut back. A missing file is created empty only
    // with CreateIfMissing::yes. Fails with permission_denied on a read-only
    // file, is_a_directory on a folder, and FileError::notRegularFile on
    // anything else but a file.
    [[nodiscard]] std::error_code Open(const std::string& path, CreateIfMissing create);

    // Appends `bytes`, preceded by `prefixIfEmpty` when the file is empty
    // (a byte-order mark). On failure the file keeps its old length, and a
    // file this Open created is removed again.
    [[nodiscard]] std::error_code Append(std::string_view bytes, std::string_view prefixIfEmpty = {});

    bool IsOpen() const;
    // Releases the lock and the file.
    void Close();

    // What Open found and left alone (an unfinished append that something
    // follows), one line each, for the person to read.
    std::vector<std::string> TakeNotes();

private:
    struct State;
    void RecoverUnfinishedAppend();

    std::unique_ptr<State> m_state;
};

// True for the names of the journals LockedAppend keeps beside the files it appends to.
bool IsAppendJournalName(std::string_view name);

}  // namespace platform
