#include "writers/BundleFiles.h"

#include <algorithm>
#include <tuple>

#include "platform/FileSystem.h"
#include "writers/Escape.h"

void BundleFiles::ConfineTo(const std::vector<std::string>& folders, std::string where) {
    m_folders.clear();
    m_realFolders.clear();
    for (const std::string& folder : folders) {
        m_folders.push_back(platform::AbsolutePath(folder));
        m_realFolders.push_back(platform::RealPath(folder).value_or(m_folders.back()));
    }
    m_where = std::move(where);
}

bool BundleFiles::Confined(const std::string& path) {
    const std::string resolved = platform::ResolveCase(path);
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
    const std::optional<std::string> parent = platform::RealPath(platform::ParentPath(resolved));
    if (!parent) return true;  // nothing there to lead anywhere, nor to write into
    const std::string leadsTo =
        platform::LinkTarget(resolved).value_or(platform::JoinPath(*parent, platform::LastComponent(resolved)));
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
            m_report.AddProblem("'" + EscapeLogName(step) + "' is a link to '" + EscapeLogName(*target) + "' outside " +
                                m_where + "; left unchanged.\n");
        }
        return false;
    }
    return true;
}

bool BundleFiles::RefusedAsSpecial(const std::string& path) {
    const std::string resolved = platform::ResolveCase(path);
    // A FIFO or a device where a bundle file belongs stays what it is.
    if (!platform::FindFirst(resolved) || platform::IsRegularFile(resolved) || platform::IsDirectory(resolved) ||
        !platform::RealPath(resolved)) {
        return false;
    }
    NoteFailure("write", path, platform::MakeError(platform::FileError::notRegularFile));
    return true;
}

bool BundleFiles::Write(const std::string& path, std::string_view bytes) {
    if (!Confined(path) || RefusedAsSpecial(path)) return false;
    if (const std::error_code ec = m_transaction.Stage(path, bytes)) {
        NoteFailure("write", path, ec);
        return false;
    }
    CommitWhenFull();
    return true;
}

bool BundleFiles::Copy(const std::string& source, const std::string& destination) {
    if (!Confined(source) || !Confined(destination) || RefusedAsSpecial(destination)) return false;
    if (const std::error_code ec = m_transaction.StageCopy(destination, source)) {
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
    m_transaction.Unstage(path);
    if (const std::error_code ec = platform::RemoveFile(path)) {
        NoteFailure("delete", path, ec);
        return false;
    }
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
    if (auto staged = m_transaction.ReadStaged(path)) return staged;
    return platform::ReadFileBytes(path, ec);
}

bool BundleFiles::Exists(const std::string& path) {
    return m_transaction.IsStaged(path) || platform::FindFirst(path);
}

void BundleFiles::CommitWhenFull() {
    if (m_transaction.Full()) Commit();
}

void BundleFiles::Commit() {
    for (const platform::CommitFailure& failure : m_transaction.Commit())
        NoteFailure("write", failure.path, failure.error);
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
        const std::string path = "'" + EscapeLogName(problem.path) + "'";
        switch (problem.kind) {
            case platform::KeepProblem::Kind::OtherNames:
                // Not a failure: the other names keep the old content, as a hard-linked backup should.
                m_report.updatedList +=
                    path + " has " + problem.detail + " other names (hard links); they keep the old content.\n";
                break;
            case platform::KeepProblem::Kind::Owner:
                m_report.AddProblem("Could not keep the owner of " + path + ": " + problem.reason.message() + ".\n");
                break;
            case platform::KeepProblem::Kind::Group:
                m_report.AddProblem("Could not keep the group of " + path + ": " + problem.reason.message() + ".\n");
                break;
            case platform::KeepProblem::Kind::Attribute:
                m_report.AddProblem("Could not keep the attribute '" + problem.detail + "' of " + path + ": " +
                                    problem.reason.message() + ".\n");
                break;
        }
    }
}

void BundleFiles::NoteFailure(const std::string& action, const std::string& path, std::error_code ec) {
    m_report.AddProblem("Could not " + action + " '" + EscapeLogName(path) + "': " + ec.message() + ".\n");
}
