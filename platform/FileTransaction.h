#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/FolderTree.h"
#include "platform/WriteSession.h"

namespace platform::sys {
struct ContentSource;
struct StagedFile;
}  // namespace platform::sys

namespace platform {

// Where a caller writes a staged file's content itself: in order, or at
// offsets it seeks to (an archive writes its index last), reading back what
// it wrote where it needs to.
class StagedWriter {
public:
    virtual ~StagedWriter() = default;
    // Writes `bytes` at the current offset and moves past them.
    [[nodiscard]] virtual std::error_code Write(std::string_view bytes) = 0;
    [[nodiscard]] virtual std::error_code Seek(std::uint64_t offset) = 0;
    virtual std::uint64_t Tell() const = 0;
    // Up to `length` bytes from `offset` of what was written; 0 at the end.
    [[nodiscard]] virtual std::error_code ReadAt(std::uint64_t offset, char* buffer, std::size_t length,
                                                 std::size_t& got) = 0;
};
// Fills a staged file; a failure it returns drops the file.
using FillStagedFile = std::function<std::error_code(StagedWriter&)>;

// Something of a replaced (or created) file that its new version could not keep.
struct KeepProblem {
    enum class Kind {
        Owner,       // the user that owned the file (or, for a new file, the folder)
        Group,       // its group
        Attribute,   // an extended attribute; "system.posix_acl_access" is its ACL
        OtherNames,  // it has other hard links, which keep the old content
    };
    std::string path;
    Kind kind = Kind::Owner;
    std::string detail;      // Attribute: its name; OtherNames: how many other names
    std::error_code reason;  // why it could not be kept (none for OtherNames)
};

// What a commit changed on disk.
struct FileChange {
    enum class Kind {
        create,   // a new file
        replace,  // new bytes for a file
        touch,    // a copy's bits and times only: the file held the copy's bytes already
        remove,
    };
    Kind kind = Kind::create;
    std::string path;
};

// A staged file that Commit could not put in place; the file keeps its old bytes.
struct CommitFailure {
    std::string path;
    std::error_code error;
    bool removal = false;  // the file was to be deleted, not written
    bool copy = false;     // the file was to be a copy of another, and the copy failed
};

// Puts the new content of many files in place durably and cheaply: each
// file is staged in its target's folder (nameless where the system allows)
// and its write-back started at once; Commit makes them durable with one wait
// per file system where the system has such a wait, then gives each its name
// and makes the names durable, so that whatever interrupts the run every
// target holds its old bytes or its new ones, and a created file is absent or
// whole. Nothing shows on disk before Commit; what is left uncommitted is
// discarded without trace. Staged files cannot be taken for leftovers by
// another run (locked on Linux, held unshared on Windows).
//
// Targets are places (FolderTree): the folder a file goes into is the one
// held when it was staged, whatever happens to the names that led there.
// Path arguments are resolved as the system resolves them.
class FileTransaction {
public:
    // Each commit waits for its whole file system (a journal commit and a
    // flush of the disk's cache, for the contents and then for the names), so
    // commits are few and large; the bound keeps what a kill throws away, and
    // the page cache one commit fills, modest.
    static constexpr std::uint64_t kDefaultCommitBytes = std::uint64_t{256} << 20;

    // The transaction shares `session` (which outlives it) with the run's other transactions.
    explicit FileTransaction(WriteSession& session, std::uint64_t commitBytes = kDefaultCommitBytes);
    // A transaction with a session of its own, for a few files.
    FileTransaction();
    ~FileTransaction();
    FileTransaction(const FileTransaction&) = delete;
    FileTransaction& operator=(const FileTransaction&) = delete;

    // Stages `bytes` as the new content of `target` (an existing file, or a
    // new one). A file that holds these bytes already is left alone: nothing
    // is staged, and it keeps its name, times and everything else. The new
    // version keeps the replaced file's owner, group,
    // permission bits and extended attributes (ACL included); a file created
    // as root takes the owner and group of its folder. Fails with
    // permission_denied on a read-only target, is_a_directory on a folder, or
    // the reason the new content could not be written. Staging a target again
    // replaces what was staged for it.
    [[nodiscard]] std::error_code Stage(const Place& target, std::string_view bytes);
    [[nodiscard]] std::error_code Stage(const std::string& target, std::string_view bytes);
    // Stages what `fill` writes as the new content of `target`, as Stage
    // does, without holding it in memory.
    [[nodiscard]] std::error_code StageWritten(const Place& target, const FillStagedFile& fill);
    // Stages a copy of the regular file `source` over `target`, with the
    // source's permission bits and last-write time and the owner as above. A
    // target that holds the source's bytes already only takes its bits and
    // times, when they differ (at the commit, as a `touch`).
    // The bytes may be copied on the way to the commit: a failure to open the
    // source or to make the file is returned here, one while copying by
    // Commit (with `copy` set).
    [[nodiscard]] std::error_code StageCopy(const Place& target, const Place& source);
    [[nodiscard]] std::error_code StageCopy(const std::string& target, const std::string& source);

    // Whether new content for `target` waits for Commit.
    bool IsStaged(const Place& target) const;
    bool IsStaged(const std::string& target) const;
    // The content staged for `target`, or nothing when none is (or it cannot be read back).
    std::optional<std::string> ReadStaged(const Place& target) const;
    std::optional<std::string> ReadStaged(const std::string& target) const;
    // Drops what was staged for `target`, if anything.
    void Unstage(const Place& target);
    void Unstage(const std::string& target);
    // Deletes `target` (a link itself, never what it names) when the staged
    // files are put in place, not before: a deleted file's space may go to
    // content written after it, which on some file systems reaches the disk
    // before the deletion does. Staging new content for `target` afterwards
    // cancels the deletion.
    void StageRemoval(const Place& target);
    void StageRemoval(const std::string& target);
    bool IsRemovalStaged(const Place& target) const;
    bool IsRemovalStaged(const std::string& target) const;
    std::size_t StagedFiles() const;
    std::uint64_t StagedBytes() const { return m_stagedBytes; }
    // True once enough is staged (open files or bytes) that the caller should commit.
    bool Full() const;

    // Makes every staged file durable, then puts each in place of its target
    // and deletes what is to be deleted, and makes those names durable before
    // anything else is written: the replaced files' space is free from then
    // on. Returns the targets that kept their old bytes (or were not
    // deleted), with the reason. Afterwards nothing is staged.
    [[nodiscard]] std::vector<CommitFailure> Commit();
    // Drops everything staged; nothing changes on disk.
    void Discard();

    // What the files put in place so far could not keep, in commit order.
    std::vector<KeepProblem> TakeKeepProblems();
    // What the commits so far changed, in commit order.
    std::vector<FileChange> TakeChanges();

    // The session's SyncNames.
    [[nodiscard]] std::error_code SyncNames();

private:
    struct Staged;

    [[nodiscard]] std::error_code StageFrom(const Place& target, const sys::ContentSource& source);
    // The staged entry of `target`, or nothing.
    const Staged* Find(const Place& target) const;
    std::optional<std::size_t> IndexOf(const std::string& path, bool exists) const;
    void Drop(Staged& staged);
    // Puts every staged file that is durable by now in place, deletes what is
    // to be deleted, then discards the rest.
    void PutAllInPlace(std::vector<CommitFailure>& failures);
    void CancelRemoval(const std::string& path);
    // Forgets everything asked for `target` so far: it stays as it is.
    void LeaveAlone(const Place& target);
    // Whether the file at `target` (existing, `size` bytes) holds the content `source` gives.
    bool HoldsAlready(const Place& target, std::uint64_t size, const sys::ContentSource& source,
                      const sys::StagedFile* staged) const;

    std::unique_ptr<WriteSession> m_ownSession;
    WriteSession& m_session;
    std::vector<Staged> m_staged;
    std::unordered_map<std::string, std::size_t> m_byTarget;  // target path -> index in m_staged
    std::unordered_map<std::string, std::size_t> m_created;   // upper-cased path of a new file -> index
    std::vector<Place> m_removals;                            // in the order they were asked for
    std::uint64_t m_stagedBytes = 0;
    std::uint64_t m_commitBytes;
    std::vector<KeepProblem> m_problems;
    std::vector<FileChange> m_changes;
    // Copies whose target holds their bytes already: the bits and times they would give it.
    struct Touch;
    std::vector<Touch> m_touches;
};

}  // namespace platform
