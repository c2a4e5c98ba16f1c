#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

namespace platform {

enum class CreateIfMissing { no, yes };

// Appends to a file in place under an exclusive lock, so that runs at the
// same time each keep all of their lines. Before the bytes go in, the old
// length is recorded durably in a small journal (beside the file, or in the
// user's state folder where the file's folder is not writable); an append
// that fails is cut back at once, and one that a kill or a power cut
// interrupted is cut back by the next append under the same lock. Appended
// bytes are on the disk before Append returns.
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
    // file and is_a_directory (or invalid_argument) on anything but a file.
    [[nodiscard]] std::error_code Open(const std::string& path, CreateIfMissing create);

    // Appends `bytes`, preceded by `prefixIfEmpty` when the file is empty
    // (a byte-order mark). On failure the file keeps its old length.
    [[nodiscard]] std::error_code Append(std::string_view bytes, std::string_view prefixIfEmpty = {});

    bool IsOpen() const;
    // Releases the lock and the file.
    void Close();

private:
    // The journal of the current append, once written.
    struct Journal {
        std::string path;
        std::string folder;
    };

    void CutBackUnfinishedAppend();
    std::string JournalBeside() const;
    std::string JournalInStateFolder() const;
    [[nodiscard]] bool WriteJournal(std::uint64_t oldLength, std::uint64_t newLength, std::uint64_t checksum,
                                    Journal& journal);

    // The open, locked file and its identity, held by the system's own means.
    struct File;

    std::string m_path;
    std::unique_ptr<File> m_file;
};

// True for the names of the journals LockedAppend keeps beside the files it appends to.
bool IsAppendJournalName(std::string_view name);

}  // namespace platform
