#include "writers/BundleFiles.h"

#include <algorithm>
#include <tuple>

#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "writers/Escape.h"

using platform::EntryKind;
using platform::LastLink;
using platform::Place;

BundleFiles::BundleFiles(RunReport& report, std::uint64_t commitBytes)
    : m_report(report), m_transaction(m_session, commitBytes) {}

void BundleFiles::ConfineTo(const std::vector<std::string>& folders, std::string where) {
    // What is staged was checked against the folders it was staged under.
    Commit();
    std::ignore = m_tree.ConfineTo(folders);
    m_where = std::move(where);
}

void BundleFiles::KeepRecordIn(platform::ChangeRecord* record) {
    m_record = record;
    m_transaction.KeepRecordIn(record);
}

void BundleFiles::NoteLinkOut(const platform::LinkOut& out) {
    if (!m_notedLinks.insert(out.link).second) return;
    m_report.AddProblemAt(out.link, "'" + EscapeLogPath(out.link) + "' is a link to '" + EscapeLogPath(out.target) +
                                        "' outside " + m_where + "; left unchanged.\n");
}

std::optional<Place> BundleFiles::Reach(const std::string& path, LastLink last, std::error_code& ec, bool note) {
    platform::Resolution resolved = m_tree.Resolve(path, last);
    if (resolved.out) {
        if (note) NoteLinkOut(*resolved.out);
        ec = platform::MakeError(platform::FileError::leadsOut);
        return std::nullopt;
    }
    ec = resolved.error;
    return std::move(resolved.place);
}

bool BundleFiles::Confined(const std::string& path) {
    std::error_code ec;
    return Reach(path, LastLink::follow, ec) || ec != platform::MakeError(platform::FileError::leadsOut);
}

bool BundleFiles::Write(const std::string& path, std::string_view bytes) {
    std::error_code ec;
    const std::optional<Place> place = Reach(path, LastLink::follow, ec);
    if (!place) {
        if (ec != platform::MakeError(platform::FileError::leadsOut)) NoteFailure("write", path, ec);
        return false;
    }
    // A FIFO or a device where a bundle file belongs stays what it is, also
    // behind a link (a dangling link is replaced as it stands).
    if (place->kind == EntryKind::special) ec = platform::MakeError(platform::FileError::notRegularFile);
    if (!ec) ec = m_transaction.Stage(*place, bytes);
    if (ec) {
        NoteFailure("write", path, ec);
        return false;
    }
    CommitWhenFull();
    return true;
}

bool BundleFiles::WriteWith(const std::string& path, const platform::FillStagedFile& fill) {
    std::error_code ec;
    const std::optional<Place> place = Reach(path, LastLink::follow, ec);
    if (!place) {
        if (ec != platform::MakeError(platform::FileError::leadsOut)) NoteFailure("write", path, ec);
        return false;
    }
    if (place->kind == EntryKind::special) ec = platform::MakeError(platform::FileError::notRegularFile);
    if (!ec) ec = m_transaction.StageWritten(*place, fill);
    if (ec) {
        NoteFailure("write", path, ec);
        return false;
    }
    CommitWhenFull();
    return true;
}

bool BundleFiles::Copy(const std::string& source, const std::string& destination) {
    std::error_code ec;
    const std::optional<Place> from = Reach(source, LastLink::follow, ec);
    if (!from) return false;                             // led out (noted), or not there
    if (from->kind == EntryKind::missing) return false;  // a template the installation lacks
    if (from->kind != EntryKind::file) {
        NoteFailure("copy from", source,
                    from->kind == EntryKind::folder ? std::make_error_code(std::errc::is_a_directory)
                                                    : platform::MakeError(platform::FileError::notRegularFile));
        return false;
    }
    const std::optional<Place> place = Reach(destination, LastLink::follow, ec);
    if (!place) {
        if (ec != platform::MakeError(platform::FileError::leadsOut)) NoteFailure("copy to", destination, ec);
        return false;
    }
    if (place->kind == EntryKind::special) {
        NoteFailure("write", destination, platform::MakeError(platform::FileError::notRegularFile));
        return false;
    }
    if ((ec = m_transaction.StageCopy(*place, *from))) {
        NoteFailure("copy to", destination, ec);
        return false;
    }
    CommitWhenFull();
    return true;
}

bool BundleFiles::Delete(const std::string& path) {
    std::error_code ec;
    const std::optional<Place> place = Reach(path, LastLink::keep, ec);
    if (!place)
        return ec !=
               platform::MakeError(platform::FileError::leadsOut);  // a folder on the way is missing: so is the file
    m_transaction.StageRemoval(*place);
    return true;
}

bool BundleFiles::EnsureFolder(const std::string& path) {
    std::error_code ec;
    const std::optional<Place> place = Reach(path, LastLink::keep, ec);
    if (place && place->kind != EntryKind::missing) return true;
    if (!place) {
        if (ec != platform::MakeError(platform::FileError::leadsOut)) NoteFailure("create the folder", path, ec);
        return false;
    }
    if (m_record != nullptr) ec = m_record->BeforeFolderCreated(*place);
    if (ec || (ec = platform::CreateFolder(*place))) {
        NoteFailure("create the folder", path, ec);
        return false;
    }
    return true;
}

void BundleFiles::MakeWritable(const std::string& path) {
    std::error_code ec;
    const std::optional<Place> place = Reach(path, LastLink::follow, ec);
    if (!place || place->kind != EntryKind::file || !platform::IsReadOnly(*place)) return;
    if (m_record != nullptr && m_record->BeforeModeChanged(*place)) return;  // staging it then fails, and is noted
    std::ignore = platform::ClearReadOnly(*place);
}

std::optional<std::string> BundleFiles::Read(const std::string& path, std::error_code& ec) {
    ec.clear();
    const std::optional<Place> place = Reach(path, LastLink::follow, ec);
    if (!place) return std::nullopt;
    if (m_transaction.IsRemovalStaged(*place)) {
        ec = std::make_error_code(std::errc::no_such_file_or_directory);
        return std::nullopt;
    }
    if (auto staged = m_transaction.ReadStaged(*place)) return staged;
    if (place->kind == EntryKind::missing) {
        ec = std::make_error_code(std::errc::no_such_file_or_directory);
        return std::nullopt;
    }
    return platform::ReadFileBytes(*place, ec);
}

platform::ReadableFile BundleFiles::Open(const std::string& path, std::error_code& ec) {
    const std::optional<Place> place = Reach(path, LastLink::follow, ec);
    if (!place) return {};
    if (m_transaction.IsRemovalStaged(*place) || place->kind == EntryKind::missing) {
        ec = std::make_error_code(std::errc::no_such_file_or_directory);
        return {};
    }
    return platform::ReadableFile::Open(*place, ec);
}

bool BundleFiles::Exists(const std::string& path) {
    std::error_code ec;
    const std::optional<Place> place = Reach(path, LastLink::keep, ec, false);
    if (!place) return false;
    if (m_transaction.IsRemovalStaged(*place)) return false;
    return place->kind != EntryKind::missing || m_transaction.IsStaged(*place);
}

bool BundleFiles::CanRead(const std::string& path) {
    std::error_code ec;
    const std::optional<Place> place = Reach(path, LastLink::follow, ec, false);
    if (!place || place->kind != EntryKind::file) return false;
    return static_cast<bool>(platform::ReadableFile::Open(*place, ec));
}

EntryKind BundleFiles::KindOf(const std::string& path) {
    std::error_code ec;
    const std::optional<Place> place = Reach(path, LastLink::follow, ec, false);
    return place ? place->kind : EntryKind::missing;
}

std::vector<platform::DirEntry> BundleFiles::List(const std::string& folder, std::string_view pattern,
                                                  std::error_code& ec) {
    std::vector<platform::DirEntry> entries;
    std::optional<platform::LinkOut> out;
    const platform::FolderRef held = m_tree.OpenFolder(folder, ec, &out);
    if (!held) {
        if (out) NoteLinkOut(*out);
        return entries;
    }
    const std::vector<platform::DirEntry>* listing = platform::ListFolder(*held, ec);
    if (listing == nullptr) return entries;
    for (const platform::DirEntry& entry : *listing) {
        if (platform::MatchesWildcard(entry.name, pattern)) entries.push_back(entry);
    }
    return entries;
}

std::vector<platform::DirEntry> BundleFiles::List(const std::string& folder, std::string_view pattern) {
    std::error_code ec;
    return List(folder, pattern, ec);
}

std::optional<platform::FolderIdentity> BundleFiles::IdentifyFolder(const std::string& path) {
    std::error_code ec;
    std::optional<platform::LinkOut> out;
    const platform::FolderRef held = m_tree.OpenFolder(path, ec, &out);
    if (out) NoteLinkOut(*out);
    if (!held) return std::nullopt;
    return held->Identity();
}

void BundleFiles::ReturnToParent(const std::string& child, const std::string& parent,
                                 const platform::FolderIdentity& expected) {
    std::error_code ec;
    const platform::FolderRef held = m_tree.OpenFolder(child, ec);
    std::ignore = m_tree.OpenParent(held, parent, expected);
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
    if (const std::error_code ec = m_transaction.SyncNames()) {
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
    if (ec == platform::MakeError(platform::FileError::leadsOut)) return;  // the link is named already
    m_report.AddProblemAt(path, "Could not " + action + " '" + EscapeLogPath(path) + "': " + ec.message() + ".\n");
}
