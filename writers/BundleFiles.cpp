#include "writers/BundleFiles.h"

#include <algorithm>
#include <tuple>

#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "writers/Escape.h"

void BundleFiles::ConfineTo(const std::vector<std::string>& folders, std::string where) {
    m_folders.clear();
    m_realFolders.clear();
    m_upperFolders.clear();
    for (const std::string& folder : folders) {
        m_folders.push_back(platform::AbsolutePath(folder));
        m_realFolders.push_back(platform::RealPath(folder).value_or(m_folders.back()));
        m_upperFolders.push_back(platform::ToUpperText(m_folders.back()));
    }
    m_where = std::move(where);
}

bool BundleFiles::Confined(const std::string& path) {
    // A path outside the folders in every letter case (the installation's
    // templates) needs no look at the disk.
    const std::string upper = platform::ToUpperText(path);
    if (std::none_of(m_upperFolders.begin(), m_upperFolders.end(),
                     [&](const std::string& folder) { return platform::IsWithin(upper, folder); })) {
        return true;
    }
    return Confined(platform::InspectPath(path));
}

std::optional<std::string> BundleFiles::RealFolder(const std::string& folder) {
    // Folders of the bundle in hand come up once per file written into them:
    // one look at the folder's identity tells whether the path found before
    // still leads there.
    const std::optional<platform::FolderIdentity> identity = platform::IdentifyFolder(folder);
    if (!identity) return platform::RealPath(folder);
    if (const auto known = m_realFolderCache.find(folder);
        known != m_realFolderCache.end() && known->second.first == *identity) {
        return known->second.second;
    }
    std::optional<std::string> real = platform::RealPath(folder);
    if (!real) return real;
    if (m_realFolderCache.size() >= 1024) m_realFolderCache.clear();  // flat memory over any number of bundles
    m_realFolderCache.insert_or_assign(folder, std::make_pair(*identity, *real));
    return real;
}

bool BundleFiles::Confined(const platform::PathEntry& entry) {
    const std::string& resolved = entry.resolved;
    const auto root = std::find_if(m_folders.begin(), m_folders.end(),
                                   [&](const std::string& folder) { return platform::IsWithin(resolved, folder); });
    if (root == m_folders.end()) return true;  // the installation's own files may be links
    const auto inside = [this](const std::string& real) {
        return std::any_of(m_realFolders.begin(), m_realFolders.end(),
                           [&](const std::string& folder) { return platform::IsWithin(real, folder); });
    };
    // Where the kernel takes the path, resolved once: a path that stays inside
    // (most of them) costs no more than that. Only one that leads out is
    // followed component by component below, to name the link that leads out.
    if (resolved.size() == root->size()) return true;
    const std::optional<std::string> parent = RealFolder(platform::ParentPath(resolved));
    if (!parent) return true;  // nothing there to lead anywhere, nor to write into
    const std::string besideParent = platform::JoinPath(*parent, platform::LastComponent(resolved));
    const std::string leadsTo =
        entry.kind == platform::EntryKind::link ? platform::LinkTarget(resolved).value_or(besideParent) : besideParent;
    if (inside(leadsTo)) return true;
    std::size_t end = root->size();
    while (end < resolved.size()) {
        end = resolved.find('/', end + 1);
        if (end == std::string::npos) end = resolved.size();
        const std::string step = resolved.substr(0, end);
        const std::optional<std::string> target = platform::LinkTarget(step);
        if (!target) {
            if (!platform::FindFirst(step)) return true;  // nothing there to lead anywhere
            continue;
        }
        if (inside(*target)) continue;
        if (m_notedLinks.insert(step).second) {
            m_report.AddProblemAt(step, "'" + EscapeLogPath(step) + "' is a link to '" + EscapeLogPath(*target) +
                                            "' outside " + m_where + "; left unchanged.\n");
        }
        return false;
    }
    return true;
}

bool BundleFiles::RefusedAsSpecial(const std::string& path, const platform::PathEntry& entry) {
    // A FIFO or a device where a bundle file belongs stays what it is, also
    // behind a link (a dangling link is replaced as it stands).
    const std::string& resolved = entry.resolved;
    switch (entry.kind) {
        case platform::EntryKind::missing:
        case platform::EntryKind::file:
        case platform::EntryKind::folder:
            return false;
        case platform::EntryKind::link:
            if (platform::IsRegularFile(resolved) || platform::IsDirectory(resolved) || !platform::RealPath(resolved)) {
                return false;
            }
            break;
        case platform::EntryKind::special:
            break;
    }
    NoteFailure("write", path, platform::MakeError(platform::FileError::notRegularFile));
    return true;
}

std::optional<platform::PathEntry> BundleFiles::Admitted(const std::string& path) {
    platform::PathEntry entry = platform::InspectPath(path);
    if (!Confined(entry) || RefusedAsSpecial(path, entry)) return std::nullopt;
    return entry;
}

bool BundleFiles::Write(const std::string& path, std::string_view bytes) {
    const std::optional<platform::PathEntry> entry = Admitted(path);
    if (!entry) return false;
    if (const std::error_code ec = m_transaction.Stage(path, bytes, &*entry)) {
        NoteFailure("write", path, ec);
        return false;
    }
    CommitWhenFull();
    return true;
}

bool BundleFiles::Copy(const std::string& source, const std::string& destination) {
    if (!Confined(source)) return false;
    const std::optional<platform::PathEntry> entry = Admitted(destination);
    if (!entry) return false;
    if (const std::error_code ec = m_transaction.StageCopy(destination, source, &*entry)) {
        if (platform::FindFirst(source) && !platform::IsRegularFile(source)) {
            NoteFailure("copy from", source, platform::MakeError(platform::FileError::notRegularFile));
        } else if (platform::FindFirst(source)) {
            NoteFailure("copy to", destination, ec);
        }
        return false;
    }
    CommitWhenFull();
    return true;
}

bool BundleFiles::Delete(const std::string& path) {
    if (!Confined(path)) return false;
    m_transaction.StageRemoval(path);
    return true;
}

bool BundleFiles::EnsureFolder(const std::string& path) {
    if (platform::FindFirst(path)) return true;
    if (!Confined(path)) return false;
    if (const std::error_code ec = platform::CreateFolder(path)) {
        NoteFailure("create the folder", path, ec);
        return false;
    }
    return true;
}

void BundleFiles::MakeWritable(const std::string& path) {
    if (platform::IsRegularFile(path) && Confined(path)) std::ignore = platform::ClearReadOnly(path);
}

std::optional<std::string> BundleFiles::Read(const std::string& path, std::error_code& ec) {
    ec.clear();
    if (m_transaction.IsRemovalStaged(path)) {
        ec = std::make_error_code(std::errc::no_such_file_or_directory);
        return std::nullopt;
    }
    if (auto staged = m_transaction.ReadStaged(path)) return staged;
    return platform::ReadFileBytes(path, ec);
}

bool BundleFiles::Exists(const std::string& path) {
    if (m_transaction.IsRemovalStaged(path)) return false;
    return m_transaction.IsStaged(path) || platform::FindFirst(path);
}

void BundleFiles::CommitWhenFull() {
    if (m_transaction.Full()) Commit();
}

void BundleFiles::Commit() {
    ++m_commits;
    for (const platform::CommitFailure& failure : m_transaction.Commit())
        NoteFailure(failure.removal ? "delete" : failure.copy ? "copy to" : "write", failure.path, failure.error);
    NoteKeepProblems();
}

void BundleFiles::Finish() {
    Commit();
    if (const std::error_code ec = platform::FileTransaction::SyncNames()) {
        m_report.AddProblem("Could not make the run's changes durable: " + ec.message() + ".\n");
    }
}

void BundleFiles::NoteKeepProblems() {
    for (const platform::KeepProblem& problem : m_transaction.TakeKeepProblems()) {
        const std::string path = "'" + EscapeLogPath(problem.path) + "'";
        switch (problem.kind) {
            case platform::KeepProblem::Kind::OtherNames:
                // Not a failure: the other names keep the old content, as a hard-linked backup should.
                m_report.updatedList +=
                    path + " has " + problem.detail + " other names (hard links); they keep the old content.\n";
                break;
            case platform::KeepProblem::Kind::Owner:
                m_report.AddProblemAt(problem.path,
                                      "Could not keep the owner of " + path + ": " + problem.reason.message() + ".\n");
                break;
            case platform::KeepProblem::Kind::Group:
                m_report.AddProblemAt(problem.path,
                                      "Could not keep the group of " + path + ": " + problem.reason.message() + ".\n");
                break;
            case platform::KeepProblem::Kind::Attribute:
                m_report.AddProblemAt(problem.path, "Could not keep the attribute '" + problem.detail + "' of " + path +
                                                        ": " + problem.reason.message() + ".\n");
                break;
        }
    }
}

void BundleFiles::NoteFailure(const std::string& action, const std::string& path, std::error_code ec) {
    m_report.AddProblemAt(path, "Could not " + action + " '" + EscapeLogPath(path) + "': " + ec.message() + ".\n");
}
