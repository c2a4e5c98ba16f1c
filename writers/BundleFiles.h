#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/ChangeRecord.h"
#include "platform/FileSystem.h"
#include "platform/FileTransaction.h"
#include "platform/FolderTree.h"
#include "platform/OwnerAccess.h"
#include "platform/WriteSession.h"
#include "writers/RunReport.h"

// The run's one way into the course bundles (and VOD packages): every file it
// reads, lists, writes, copies or deletes there goes through here, so that
// each failure is noted in the run report with its reason, and every name is
// reached through the folders the run confines itself to (a link that leads
// out of them is named and left; one that stays inside is followed). New
// contents are staged and put in place in batches, each made durable with one
// wait before any of its names is put in place (see
// platform::FileTransaction); reads of a file written earlier in the run see
// its new content.
class BundleFiles {
public:
    // A change the run made (or, previewing, would make) to the tree.
    struct Change {
        enum class Kind { create, replace, touch, remove, mkdir };
        Kind kind = Kind::create;
        std::string path;
    };

    explicit BundleFiles(RunReport& report, std::uint64_t commitBytes = platform::FileTransaction::kDefaultCommitBytes);
    BundleFiles(const BundleFiles&) = delete;
    BundleFiles& operator=(const BundleFiles&) = delete;

    // The folders the run may change: nothing is read, written, replaced,
    // deleted or copied through a link that leads out of them. `where` names
    // them in the note ("the starting folder"). Without this call nothing is
    // confined.
    void ConfineTo(const std::vector<std::string>& folders, std::string where);
    // False, and noted once, when `path` lies in a confined folder but a link
    // on its way leads out of them all; true otherwise.
    [[nodiscard]] bool Confined(const std::string& path);

    // Previews the run from here on: nothing is written, created, deleted or
    // made writable; each change the run would make is listed in Changes
    // instead, and every read, listing and lookup sees the tree as the run
    // would have left it so far.
    void PreviewOnly() { m_previewing = true; }
    // Works as `run` does from here on (a preview, the same record): a part
    // of the run that keeps its own confinement. Its changes become the run's
    // with run.AddChanges.
    void Join(BundleFiles& run);
    void AddChanges(const std::vector<Change>& changes);
    bool Previewing() const { return m_previewing; }
    // What the run changed (or would change) so far, each path once, in the
    // order first changed; a file made writable and then given the bytes it
    // held counts as replaced.
    const std::vector<Change>& Changes() const { return m_changes; }

    // Tells `record` (which outlives this; null for none) of every change
    // before it is made: one it cannot keep is not made, and is noted.
    void KeepRecordIn(platform::ChangeRecord* record);

    // Replaces (or creates) `path` with `bytes`; a failure is noted.
    [[nodiscard]] bool Write(const std::string& path, std::string_view bytes);
    // Replaces (or creates) `path` with what `fill` writes, as Write does,
    // without the content held in memory.
    [[nodiscard]] bool WriteWith(const std::string& path, const platform::FillStagedFile& fill);
    // The overwriting copy; a failure is noted unless the source is missing
    // (a template the installation lacks is skipped without a word).
    [[nodiscard]] bool Copy(const std::string& source, const std::string& destination);
    // Deletes a file with the next commit (reads see it gone at once); a
    // missing file is no failure; other failures are noted then.
    [[nodiscard]] bool Delete(const std::string& path);
    // Creates the folder when a find-first query does not find it; a folder
    // that cannot be created is noted with its own reason.
    [[nodiscard]] bool EnsureFolder(const std::string& path);

    // Gives the file at `path` its owner (where one is given and the run may
    // give it) and permission bits.
    [[nodiscard]] std::error_code GiveTo(const std::string& path, const std::optional<platform::FileOwner>& owner,
                                         std::uint32_t mode);

    // Clears the read-only attribute of an existing file before it is
    // regenerated; a file that is not there is no failure.
    void MakeWritable(const std::string& path);

    // --- The tree as the run has left it so far ---
    // The whole content of a file.
    std::optional<std::string> Read(const std::string& path, std::error_code& ec);
    // The file at `path` open for reading, as it is on disk (a file staged
    // in this run is read with Read); nothing with the reason.
    platform::ReadableFile Open(const std::string& path, std::error_code& ec);
    // A find-first query on the path.
    bool Exists(const std::string& path);
    // Whether `path` is a regular file that can be opened for reading.
    bool CanRead(const std::string& path);
    // What is at `path`, a link at its end followed where it stays inside.
    platform::EntryKind KindOf(const std::string& path);
    // The entries of `folder` matching `pattern`, in listing order (see
    // platform::FindEntries); nothing with the reason when it cannot be listed.
    std::vector<platform::DirEntry> List(const std::string& folder, std::string_view pattern, std::error_code& ec);
    std::vector<platform::DirEntry> List(const std::string& folder, std::string_view pattern);
    // The identity of the folder at `path`; nothing when it is no folder or
    // a link on the way leads out (noted once).
    std::optional<platform::FolderIdentity> IdentifyFolder(const std::string& path);
    // Tells the tree that the walk goes back up from `child` to `parent`,
    // whose identity is `expected`: the parent is reopened through the child
    // (and checked) rather than looked up again from the top.
    void ReturnToParent(const std::string& child, const std::string& parent, const platform::FolderIdentity& expected);

    // Puts what is staged in place (made durable first); failures are noted.
    void Commit();
    // Commits, then makes the names put in place durable: after this a bundle
    // the patch log lists as updated stays updated whatever happens.
    void Finish();
    // How many commits there have been: after one, nothing written before it waits.
    int Commits() const { return m_commits; }

    // Notes that `action` ("write", "copy to", "delete", "read", "create") failed on `path`
    // (but for a link that leads out, which is named on its own).
    void NoteFailure(const std::string& action, const std::string& path, std::error_code ec);

private:
    // Where `path` leads, or nothing: a link that leads out (noted once when
    // `note` is set) sets `ec` to FileError::leadsOut, anything else that
    // stops it to its reason.
    std::optional<platform::Place> Reach(const std::string& path, platform::LastLink last, std::error_code& ec,
                                         bool note = true);
    void NoteLinkOut(const platform::LinkOut& out);
    // Stages new content for `path` with `stage`, once the path is reached
    // and is no special file; a failure is noted.
    [[nodiscard]] bool StageAt(const std::string& path,
                               const std::function<std::error_code(const platform::Place&)>& stage);
    // Commits when enough is staged.
    void CommitWhenFull();
    void NoteKeepProblems();

    // --- Previewing: the tree as the run would have left it ---
    struct Pending {
        enum class What { file, folder, removed } what = What::file;
        std::string path;                       // as the run named it
        std::optional<std::string> bytes;       // a written file's content
        std::optional<platform::Place> copyOf;  // or the file it is a copy of
    };
    static std::string KeyOf(std::string_view path);
    const Pending* PendingAt(const std::string& path) const;
    // Stages (or previews) new content for `path`: `bytes`, or a copy of `copyOf`.
    [[nodiscard]] bool Put(const std::string& path, std::string_view bytes, const platform::Place* copyOf,
                           const std::string& action);
    // Where a path below a folder the preview created would go: true when its folder is one.
    bool InPendingFolder(const std::string& path) const;
    void NoteChange(Change::Kind kind, const std::string& path);
    void NoteCommitted(const std::vector<platform::FileChange>& changes);

    RunReport& m_report;
    bool m_previewing = false;
    std::map<std::string, Pending> m_pending;  // by KeyOf(path)
    std::set<std::string> m_madeWritable;      // by KeyOf(path), previewing
    std::vector<Change> m_changes;
    std::set<std::string> m_changed;  // by KeyOf(path)
    platform::ChangeRecord* m_record = nullptr;
    int m_commits = 0;
    platform::WriteSession m_session;
    platform::FileTransaction m_transaction;
    platform::FolderTree m_tree;
    std::string m_where;
    std::set<std::string> m_notedLinks;
};
