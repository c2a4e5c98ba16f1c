#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/FolderTree.h"

// What a run's undo record needs of the system: the old versions of files
// kept by a link (or a copy), their owners, bits and times, a journal made
// durable at each step, and folders of the user's own. Every call reaches its
// entry through a held folder and a name in it, no link followed.
namespace platform {

// What an entry is now.
struct EntryFacts {
    bool exists = false;
    bool regular = false;
    std::uint32_t mode = 0;  // permission bits (POSIX); 0 or 1 for read-only on Windows
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
    std::uint64_t links = 1;
    std::uint64_t size = 0;
    std::int64_t accessed = 0;  // in the system's finest unit
    std::int64_t modified = 0;
    std::uint64_t device = 0;  // with `index`: which file it is, whatever its names
    std::uint64_t index = 0;
};
// What is at `place` now; a missing entry is no error (`exists` stays false).
[[nodiscard]] std::error_code DescribeEntry(const Place& place, EntryFacts& facts);

// Keeps the regular file at `place` as `keptName` in `record`: a second name
// for the same file where it has no other name and the system allows it
// (the run's replace then leaves the old data in place, so keeping it costs
// nothing), else a private copy with its times. `copied` says which.
[[nodiscard]] std::error_code KeepFile(const Place& place, const HeldFolder& record, const std::string& keptName,
                                       bool& copied);
// Makes the names kept in `record` durable, and with `copies` their contents too.
[[nodiscard]] std::error_code SyncRecord(const HeldFolder& record, bool copies);

// Gives the file at `place` the owner (when `owner` is set and the process
// may), bits and times of `facts`.
[[nodiscard]] std::error_code SetEntryFacts(const Place& place, const EntryFacts& facts, bool owner);
// Removes the folder at `place` when it is empty (directory_not_empty otherwise).
[[nodiscard]] std::error_code RemoveEmptyFolder(const Place& place);
// Removes the folder `name` of `parent` and the files in it (it holds no folders).
[[nodiscard]] std::error_code RemoveFlatFolder(const HeldFolder& parent, const std::string& name);

// The folder `name` of `parent`, held open: one of the user's own that nobody
// else can enter (made so when it is the user's), never a link. Nothing, with
// the reason, otherwise (file_exists for `makeNew` when it is there already).
enum class PrivateFolder { open, openOrMake, makeNew };
FolderRef OpenPrivateFolder(const FolderRef& parent, const std::string& name, PrivateFolder how, std::error_code& ec);
// The folder at `path`, links followed, held open.
FolderRef OpenFolderPath(const std::string& path, std::error_code& ec);
// The user's own folder for this program's state, made when `make` is set; empty when there is none.
std::string UserStateFolder(bool make);

// A file appended to line by line, each step made durable on request.
class RecordJournal {
public:
    RecordJournal();
    ~RecordJournal();
    RecordJournal(const RecordJournal&) = delete;
    RecordJournal& operator=(const RecordJournal&) = delete;

    // Opens (or creates, private) the file `name` of `folder` for appending.
    [[nodiscard]] std::error_code Open(const HeldFolder& folder, const std::string& name);
    bool IsOpen() const;
    [[nodiscard]] std::error_code Append(std::string_view bytes);
    // Makes everything appended so far durable.
    [[nodiscard]] std::error_code Sync();
    void Close();

private:
    struct Handle;
    std::unique_ptr<Handle> m_handle;
};

// Cuts the file at `path` back to `oldLength` under its append lock when
// it is still `newLength` bytes long and the bytes past `oldLength` match
// `checksums` (one per 64 KiB piece of them): only while the run's bytes are
// still its tail.
enum class AppendCut { cut, cutAlready, notTail };
[[nodiscard]] std::error_code CutAppendBack(const std::string& path, std::uint64_t oldLength, std::uint64_t newLength,
                                            const std::vector<std::uint64_t>& checksums, AppendCut& outcome);
// The checksums CutAppendBack compares: of the bytes of `path` from `oldLength` to `newLength`.
[[nodiscard]] std::error_code ChecksumAppended(const std::string& path, std::uint64_t oldLength,
                                               std::uint64_t newLength, std::vector<std::uint64_t>& checksums);

}  // namespace platform
