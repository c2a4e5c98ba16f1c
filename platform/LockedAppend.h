#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace platform {

enum class CreateIfMissing { no, yes };

// What an append must be known by before its first byte goes in (its length
// and the checksums its journal keeps), gathered from its bytes in order and
// in pieces of any size, for an append too large to hold (see LockedAppend).
class AppendMeasure {
public:
    void Add(std::string_view bytes);
    std::uint64_t Length() const { return m_length; }

private:
    friend class LockedAppend;
    std::uint64_t m_length = 0;
    std::vector<std::uint64_t> m_pieces;  // checksums of the whole pieces gathered
    std::string m_piece;                  // the piece being gathered
};

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

    // An append too large to hold, in pieces: BeginAppend with the measure
    // of all its bytes, then the same bytes again through AppendMore (in
    // pieces of any size), then FinishAppend. It is one append: the journal
    // covers all of it, and a failure, a Close before FinishAppend or an
    // interruption cuts the file back to its length before it. AppendMore
    // and FinishAppend fail (with invalid_argument, and cut back) where the
    // bytes differ from those measured.
    [[nodiscard]] std::error_code BeginAppend(const AppendMeasure& measure);
    [[nodiscard]] std::error_code AppendMore(std::string_view bytes);
    [[nodiscard]] std::error_code FinishAppend();

    bool IsOpen() const;
    // Releases the lock and the file.
    void Close();

    // What Open found and left alone (an unfinished append that something
    // follows), one line each, for the person to read.
    std::vector<std::string> TakeNotes();

private:
    struct State;
    void RecoverUnfinishedAppend();
    // Checks `bytes`, the next of the append in hand, against its measure and writes them.
    [[nodiscard]] std::error_code WriteChecked(std::string_view bytes);
    // Ends the append in hand with `ec`: cut back on failure, its journal removed.
    std::error_code EndAppend(std::error_code ec);

    std::unique_ptr<State> m_state;
};

// True for the names of the journals LockedAppend keeps beside the files it appends to.
bool IsAppendJournalName(std::string_view name);

}  // namespace platform
