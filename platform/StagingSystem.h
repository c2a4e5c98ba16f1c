#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/FileTransaction.h"
#include "platform/FolderListings.h"
#include "platform/FolderTree.h"

// How each system makes a transaction's staged files, makes them durable and
// puts them in place: posix/ and win32/ each define these; the bookkeeping on
// top (FileTransaction.cpp) is shared. Every call reaches its file through a
// held folder and a name in it. Internal to platform/.
namespace platform::sys {

// The session's state (WriteSession): made and ended by the system.
SessionState* MakeSessionState();
void EndSessionState(SessionState* state);
// Makes the names put in place since the last call durable (see
// WriteSession::SyncNames). A failure is returned `now`, or kept for the next
// call that reports `now`.
enum class SyncReport { now, later };
[[nodiscard]] std::error_code SyncNames(SessionState& state, SyncReport report);

// How many files may be staged at once: each holds a descriptor or handle.
std::size_t StagedFileBound();

// What is at a target now.
struct TargetInfo {
    bool exists = false;  // a file to be replaced (not a dangling link, which is replaced as it stands)
    std::uint32_t mode = 0;
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
    std::uint64_t links = 1;
    std::uint64_t size = 0;
    std::int64_t modified = 0;  // last-write time, in the system's finest unit
};
// Looks at `target` (already resolved); refuses a folder (is_a_directory) and
// a read-only file (permission_denied).
[[nodiscard]] std::error_code InspectTarget(const Place& target, TargetInfo& info);

// New content, held open (and where the system has locks, locked) in its
// target's folder, nameless or under a temporary name until it is put in place.
struct StagedFile;

// What a copy takes from its source besides the bytes.
struct SourceFacts {
    std::uint32_t mode = 0;
    std::uint64_t size = 0;
    std::int64_t accessed = 0;  // as TargetInfo::modified
    std::int64_t modified = 0;
};
[[nodiscard]] std::error_code DescribeSource(const Place& source, SourceFacts& facts);
// Gives the file at `target` the source's bits and times, as a copy would,
// through the file itself (no link followed).
[[nodiscard]] std::error_code TakeSourceFacts(const Place& target, const SourceFacts& facts);

// Where a staged file's content comes from.
struct ContentSource {
    std::string_view bytes;
    const Place* copyOf = nullptr;         // or a regular file whose content, bits and times are copied
    const FillStagedFile* fill = nullptr;  // or what writes the content itself
};

// What making a staged file found out.
struct StagedFacts {
    std::uint64_t device = 0;  // the file system it is on: commits wait once per file system
    std::uint64_t bytes = 0;
    std::vector<KeepProblem> problems;  // what it could not keep of the file it replaces
};

// Makes the staged file for `target`. `previous` is the one staged just
// before (or null): files come folder by folder, so what it learnt of its
// folder may serve again.
[[nodiscard]] std::error_code MakeStagedFile(SessionState& state, const Place& target, const TargetInfo& info,
                                             const ContentSource& source, const StagedFile* previous,
                                             std::shared_ptr<StagedFile>& file, StagedFacts& facts);
// The content of a staged file, once any copy into it is done; nothing when it cannot be read.
std::optional<std::string> ReadStagedFile(SessionState& state, const StagedFile& file);
// Up to `length` bytes of a staged file from `offset`, once it is filled; 0 at the end.
[[nodiscard]] std::error_code ReadStagedAt(SessionState& state, const StagedFile& file, std::uint64_t offset,
                                           char* buffer, std::size_t length, std::size_t& got);
// Lets the staged file go: its temporary name (if it has one) is removed, nothing else changes.
void DropStagedFile(SessionState& state, StagedFile& file);

// Waits until every staged file is filled; then says why a copy into `file` failed, if it did.
void WaitUntilFilled(SessionState& state);
std::error_code FillFailure(const StagedFile& file);
// Makes the content of `files`, all on one file system, durable.
[[nodiscard]] std::error_code MakeDurable(SessionState& state, const std::vector<StagedFile*>& files);
// Gives `file` the name of `target` (replacing what is there when `existed`).
[[nodiscard]] std::error_code PutInPlace(SessionState& state, StagedFile& file, const Place& target, bool existed,
                                         listings::ChangeBatch& batch);
// Records that the entry at `target` was deleted, for the names' durability.
void NoteRemoved(SessionState& state, const Place& target);

}  // namespace platform::sys
