#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/FileTransaction.h"
#include "writers/RunReport.h"

// Every file a run writes, copies or deletes in a course bundle (or a VOD
// package) goes through here, so that each failure is noted in the run report
// with its reason. New contents are staged and put in place in batches, each
// made durable with one wait before any of its names is put in place (see
// platform::FileTransaction); reads of a file written earlier in the run see
// its new content.
class BundleFiles {
public:
    explicit BundleFiles(RunReport& report) : m_report(report) {}
    BundleFiles(const BundleFiles&) = delete;
    BundleFiles& operator=(const BundleFiles&) = delete;

    // The folders the run may change: nothing is written, replaced, deleted or
    // copied out through a link that leads out of them. `where` names them in
    // the note ("the starting folder"). Without this call nothing is confined.
    void ConfineTo(const std::vector<std::string>& folders, std::string where);
    // False, and noted once, when `path` lies in a confined folder but a link
    // on its way leads out of them all; true otherwise. Links that stay inside
    // are followed.
    [[nodiscard]] bool Confined(const std::string& path);

    // Replaces (or creates) `path` with `bytes`; a failure is noted.
    [[nodiscard]] bool Write(const std::string& path, std::string_view bytes);
    // The overwriting copy; a failure is noted unless the source is missing
    // (a template the installation lacks is skipped without a word).
    [[nodiscard]] bool Copy(const std::string& source, const std::string& destination);
    // Deletes a file with the next commit (reads see it gone at once); a
    // missing file is no failure; other failures are noted then.
    [[nodiscard]] bool Delete(const std::string& path);
    // Creates the folder when a find-first query does not find it; a folder
    // that cannot be created is noted with its own reason.
    [[nodiscard]] bool EnsureFolder(const std::string& path);

    // Clears the read-only attribute of an existing file before it is
    // regenerated; a file that is not there is no failure.
    void MakeWritable(const std::string& path);

    // The whole content of a file, as the run has left it so far.
    std::optional<std::string> Read(const std::string& path, std::error_code& ec);
    // A find-first query on the path, as the run has left it so far.
    bool Exists(const std::string& path);

    // Puts what is staged in place (made durable first); failures are noted.
    void Commit();
    // Commits, then makes the names put in place durable: after this a bundle
    // the patch log lists as updated stays updated whatever happens.
    void Finish();
    // How many commits there have been: after one, nothing written before it waits.
    int Commits() const { return m_commits; }

    // Notes that `action` ("write", "copy to", "delete", "read", "create") failed on `path`.
    void NoteFailure(const std::string& action, const std::string& path, std::error_code ec);

private:
    bool Confined(const platform::PathEntry& entry);
    // True, and noted, when `path` names something other than a file or folder.
    bool RefusedAsSpecial(const std::string& path, const platform::PathEntry& entry);
    // What is at a path the run may write (confined, and not a special
    // file), or nothing when it may not.
    std::optional<platform::PathEntry> Admitted(const std::string& path);
    // The real path of a folder, kept while the folder is the same one.
    std::optional<std::string> RealFolder(const std::string& folder);
    // Commits when enough is staged.
    void CommitWhenFull();
    void NoteKeepProblems();

    RunReport& m_report;
    int m_commits = 0;
    platform::FileTransaction m_transaction;
    std::vector<std::string> m_folders;  // as given, and as the kernel resolves them
    std::vector<std::string> m_realFolders;
    std::vector<std::string> m_upperFolders;  // as given, upper-cased
    std::string m_where;
    std::set<std::string> m_notedLinks;
    std::map<std::string, std::pair<platform::FolderIdentity, std::string>> m_realFolderCache;
};
