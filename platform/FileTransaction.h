#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "platform/FileSystem.h"

namespace platform {

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

// A staged file that Commit could not put in place; the file keeps its old bytes.
struct CommitFailure {
    std::string path;
    std::error_code error;
    bool removal = false;  // the file was to be deleted, not written
    bool copy = false;     // the file was to be a copy of another, and the copy failed
};

// Puts the new content of many files in place durably and cheaply: each file
// is written unnamed in its target's folder and its write-back started at
// once; Commit waits for the disk once per file system, then gives each file
// its name (and waits once more, for the names), so that whatever interrupts
// the run every target holds its old bytes or its new ones, and a created file
// is absent or whole. Nothing shows on disk before Commit; what is left
// uncommitted is discarded without trace. Staged files are locked, so another
// run never takes them for leftovers.
class FileTransaction {
public:
    // Each commit waits for its whole file system (a journal commit and a
    // flush of the disk's cache, for the contents and then for the names), so
    // commits are few and large; the bound keeps what a kill throws away, and
    // the page cache one commit fills, modest.
    static constexpr std::uint64_t kDefaultCommitBytes = std::uint64_t{256} << 20;

    // The default, or QUARVEL_COMMIT_BYTES when it is set: the power-cut
    // tests make small runs commit many times, so that a cut can fall between commits.
    static std::uint64_t ConfiguredCommitBytes();

    explicit FileTransaction(std::uint64_t commitBytes = ConfiguredCommitBytes());
    ~FileTransaction();
    FileTransaction(const FileTransaction&) = delete;
    FileTransaction& operator=(const FileTransaction&) = delete;

    // Stages `bytes` as the new content of `target` (the existing entry in any
    // letter case, through a link to the file it names, or a new file). The
    // new version keeps the replaced file's owner, group, permission bits and
    // extended attributes (ACL included); a file created as root takes the
    // owner and group of its folder. Fails with permission_denied on a
    // read-only target, is_a_directory on a folder, or the reason the new
    // content could not be written. Staging a target again replaces what was
    // staged for it. `seen`, when given, is what InspectPath found at
    // `target` just before: a target it found missing is not looked for again.
    [[nodiscard]] std::error_code Stage(const std::string& target, std::string_view bytes,
                                        const PathEntry* seen = nullptr);
    // Stages a copy of the regular file `source` over `target`, with the
    // source's permission bits and last-write time and the owner as above.
    // The bytes are copied on the way to the commit: a failure to open the
    // source or to make the file is returned here, one while copying by
    // Commit (with `copy` set). `seen` as for Stage.
    [[nodiscard]] std::error_code StageCopy(const std::string& target, const std::string& source,
                                            const PathEntry* seen = nullptr);

    // Whether new content for `target` waits for Commit.
    bool IsStaged(const std::string& target) const;
    // The content staged for `target`, or nothing when none is (or it cannot be read back).
    std::optional<std::string> ReadStaged(const std::string& target) const;
    // Drops what was staged for `target`, if anything.
    void Unstage(const std::string& target);
    // Deletes `target` when the staged files are put in place, not before: a
    // deleted file's space may go to content written after it, which on some
    // file systems reaches the disk before the deletion does. Staging new
    // content for `target` afterwards cancels the deletion.
    void StageRemoval(const std::string& target);
    bool IsRemovalStaged(const std::string& target) const;
    std::size_t StagedFiles() const;
    std::uint64_t StagedBytes() const { return m_stagedBytes; }
    // True once enough is staged (open files or bytes) that the caller should commit.
    bool Full() const;

    // Makes every staged file durable (one wait per file system), then puts
    // each in place of its target and deletes what is to be deleted, and
    // makes those names durable before anything else is written: the replaced
    // files' space is free from then on. Returns the targets that kept their
    // old bytes (or were not deleted), with the reason. Afterwards nothing is
    // staged.
    [[nodiscard]] std::vector<CommitFailure> Commit();
    // Drops everything staged; nothing changes on disk.
    void Discard();

    // What the files put in place so far could not keep, in commit order.
    std::vector<KeepProblem> TakeKeepProblems();

    // Makes the names that commits of this process put in place durable: one
    // sync of each file system touched since the last call. Returns the first
    // failure.
    [[nodiscard]] static std::error_code SyncNames();

private:
    // One staged file, held open and locked by the system's own means, and
    // where its content comes from; each system defines them.
    struct Staged;
    struct Source;

    [[nodiscard]] std::error_code StageFrom(const std::string& target, const Source& source, const PathEntry* seen);
    // The staged entry for `target` as a caller names it, or nothing.
    const Staged* Find(const std::string& target) const;
    [[nodiscard]] std::error_code PutInPlace(Staged& staged);
    static void Drop(Staged& staged);
    // Whether the staged entry still holds its file (Unstage and Drop let it go).
    static bool IsHeld(const Staged& staged);
    // Takes in `staged` (replacing what was staged for its target before).
    void Keep(Staged&& staged, bool exists);
    // Puts every staged file that is durable by now in place, deletes what is
    // to be deleted, then discards the rest.
    void PutAllInPlace(std::vector<CommitFailure>& failures);
    void CancelRemoval(const std::string& target);
    // Records that `path` was deleted, for the system's own bookkeeping.
    static void Removed(const std::string& path);
    // Where `resolved` (the target as the system resolved it) is staged, if it is.
    std::optional<std::size_t> IndexOf(const std::string& resolved, bool exists) const;
    // Records that m_staged[index] is the new content of `target`.
    void Register(const std::string& target, bool exists, std::size_t index);

    std::vector<Staged> m_staged;
    std::unordered_map<std::string, std::size_t> m_byTarget;  // target -> index in m_staged
    std::unordered_map<std::string, std::size_t> m_created;   // upper-cased target of a new file -> index
    std::vector<std::string> m_removals;                      // in the order they were asked for
    std::uint64_t m_stagedBytes = 0;
    std::uint64_t m_commitBytes;
    std::vector<KeepProblem> m_problems;
};

}  // namespace platform
