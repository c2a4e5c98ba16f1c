#include "writers/BundleFiles.h"

#include <algorithm>
#include <functional>
#include <tuple>

#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "writers/Escape.h"

using platform::EntryKind;
using platform::FileChange;
using platform::LastLink;
using platform::Place;

namespace {

bool LeadsOut(std::error_code ec) {
    return ec == platform::MakeError(platform::FileError::leadsOut);
}

// What a writer of a staged file leaves, held in memory: a preview compares it.
class HeldBytes final : public platform::StagedWriter {
public:
    std::string bytes;

    std::error_code Write(std::string_view more) override {
        if (m_at > bytes.size()) bytes.resize(static_cast<std::size_t>(m_at));
        bytes.replace(static_cast<std::size_t>(m_at), std::min(more.size(), bytes.size() - m_at), more);
        m_at += more.size();
        return {};
    }
    std::error_code Seek(std::uint64_t offset) override {
        m_at = offset;
        return {};
    }
    std::uint64_t Tell() const override { return m_at; }
    std::error_code ReadAt(std::uint64_t offset, char* buffer, std::size_t length, std::size_t& got) override {
        got = offset >= bytes.size() ? 0 : bytes.copy(buffer, length, static_cast<std::size_t>(offset));
        return {};
    }

private:
    std::uint64_t m_at = 0;
};

BundleFiles::Change::Kind KindOfChange(FileChange::Kind kind) {
    switch (kind) {
        case FileChange::Kind::create:
            return BundleFiles::Change::Kind::create;
        case FileChange::Kind::replace:
            return BundleFiles::Change::Kind::replace;
        case FileChange::Kind::touch:
            return BundleFiles::Change::Kind::touch;
        case FileChange::Kind::remove:
            return BundleFiles::Change::Kind::remove;
    }
    return BundleFiles::Change::Kind::replace;
}

}  // namespace

BundleFiles::BundleFiles(RunReport& report, std::uint64_t commitBytes)
    : m_report(report), m_transaction(m_session, commitBytes) {}

void BundleFiles::ConfineTo(const std::vector<std::string>& folders, std::string where) {
    // What is staged was checked against the folders it was staged under.
    Commit();
    std::ignore = m_tree.ConfineTo(folders);
    m_where = std::move(where);
}

void BundleFiles::Join(BundleFiles& run) {
    m_previewing = run.m_previewing;
    KeepRecordIn(run.m_record);
}

void BundleFiles::AddChanges(const std::vector<Change>& changes) {
    for (const Change& change : changes) NoteChange(change.kind, change.path);
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
    return Reach(path, LastLink::follow, ec) || !LeadsOut(ec);
}

bool BundleFiles::Write(const std::string& path, std::string_view bytes) {
    if (m_previewing) return Put(path, bytes, nullptr, "write");
    return StageAt(path, [&](const Place& place) { return m_transaction.Stage(place, bytes); });
}

bool BundleFiles::WriteWith(const std::string& path, const platform::FillStagedFile& fill) {
    if (m_previewing) {
        HeldBytes held;
        if (const std::error_code ec = fill(held)) {
            NoteFailure("write", path, ec);
            return false;
        }
        return Put(path, held.bytes, nullptr, "write");
    }
    return StageAt(path, [&](const Place& place) { return m_transaction.StageWritten(place, fill); });
}

bool BundleFiles::StageAt(const std::string& path, const std::function<std::error_code(const Place&)>& stage) {
    std::error_code ec;
    const std::optional<Place> place = Reach(path, LastLink::follow, ec);
    if (!place) {
        if (!LeadsOut(ec)) NoteFailure("write", path, ec);
        return false;
    }
    // A FIFO or a device where a bundle file belongs stays what it is, also
    // behind a link (a dangling link is replaced as it stands).
    if (place->kind == EntryKind::special) ec = platform::MakeError(platform::FileError::notRegularFile);
    if (!ec) ec = stage(*place);
    if (ec) {
        NoteFailure("write", path, ec);
        return false;
    }
    CommitWhenFull();
    return true;
}

bool BundleFiles::Copy(const std::string& source, const std::string& destination) {
    if (const Pending* earlier = m_previewing ? PendingAt(source) : nullptr) {
        // A file the run has written or copied already, previewed.
        if (earlier->what != Pending::What::file) return false;
        if (earlier->bytes) return Put(destination, *earlier->bytes, nullptr, "copy to");
        return Put(destination, {}, &*earlier->copyOf, "copy to");
    }
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
    if (m_previewing && InPendingFolder(destination)) return Put(destination, {}, &*from, "copy to");
    const std::optional<Place> place = Reach(destination, LastLink::follow, ec);
    if (!place) {
        if (!LeadsOut(ec)) NoteFailure("copy to", destination, ec);
        return false;
    }
    if (place->kind == EntryKind::special) {
        NoteFailure("write", destination, platform::MakeError(platform::FileError::notRegularFile));
        return false;
    }
    if (m_previewing) return Put(destination, {}, &*from, "copy to");
    if ((ec = m_transaction.StageCopy(*place, *from))) {
        NoteFailure("copy to", destination, ec);
        return false;
    }
    CommitWhenFull();
    return true;
}

bool BundleFiles::Delete(const std::string& path) {
    const Pending* earlier = m_previewing ? PendingAt(path) : nullptr;
    if (earlier && earlier->what == Pending::What::removed) return true;
    if (m_previewing && InPendingFolder(path)) {
        m_pending.erase(KeyOf(path));  // a file only the preview made
        return true;
    }
    std::error_code ec;
    const std::optional<Place> place = Reach(path, LastLink::keep, ec);
    if (!place) return !LeadsOut(ec);  // a folder on the way is missing: so is the file
    if (!m_previewing) {
        m_transaction.StageRemoval(*place);
    } else if (place->kind == EntryKind::folder) {
        NoteFailure("delete", place->path, std::make_error_code(std::errc::is_a_directory));  // as the commit would
    } else if (place->kind == EntryKind::file && platform::IsReadOnly(*place) &&
               !m_madeWritable.contains(KeyOf(path))) {
        NoteFailure("delete", place->path, std::make_error_code(std::errc::permission_denied));
    } else if (place->kind != EntryKind::missing) {
        NoteChange(Change::Kind::remove, place->path);
        m_pending[KeyOf(path)] = {Pending::What::removed, path, std::nullopt, std::nullopt};
    } else {
        m_pending.erase(KeyOf(path));
    }
    return true;
}

bool BundleFiles::EnsureFolder(const std::string& path) {
    if (m_previewing) {
        if (const Pending* earlier = PendingAt(path)) return earlier->what == Pending::What::folder;
        if (InPendingFolder(path)) {
            NoteChange(Change::Kind::mkdir, path);
            m_pending[KeyOf(path)] = {Pending::What::folder, path, std::nullopt, std::nullopt};
            return true;
        }
    }
    std::error_code ec;
    const std::optional<Place> place = Reach(path, LastLink::keep, ec);
    if (place && place->kind != EntryKind::missing) return true;
    if (!place) {
        if (!LeadsOut(ec)) NoteFailure("create the folder", path, ec);
        return false;
    }
    if (m_previewing) {
        NoteChange(Change::Kind::mkdir, place->path);
        m_pending[KeyOf(path)] = {Pending::What::folder, place->path, std::nullopt, std::nullopt};
        return true;
    }
    if (m_record != nullptr) ec = m_record->BeforeFolderCreated(*place);
    if (ec || (ec = platform::CreateFolder(*place))) {
        NoteFailure("create the folder", path, ec);
        return false;
    }
    NoteChange(Change::Kind::mkdir, place->path);
    return true;
}

void BundleFiles::MakeWritable(const std::string& path) {
    std::error_code ec;
    const std::optional<Place> place = Reach(path, LastLink::follow, ec);
    if (!place || place->kind != EntryKind::file || !platform::IsReadOnly(*place)) return;
    if (m_previewing) {
        m_madeWritable.insert(KeyOf(path));
    } else {
        if (m_record != nullptr && m_record->BeforeModeChanged(*place)) return;  // staging it then fails, and is noted
        if (platform::ClearReadOnly(*place)) return;
    }
    // The file's read-only state changes even where its bytes do not.
    NoteChange(Change::Kind::replace, place->path);
}

std::error_code BundleFiles::GiveTo(const std::string& path, const std::optional<platform::FileOwner>& owner,
                                    std::uint32_t mode) {
    if (m_previewing) return {};
    std::error_code ec;
    const platform::ReadableFile file = Open(path, ec);
    return file ? platform::GiveTo(file, owner, mode) : ec;
}

std::optional<std::string> BundleFiles::Read(const std::string& path, std::error_code& ec) {
    ec.clear();
    if (const Pending* earlier = m_previewing ? PendingAt(path) : nullptr) {
        switch (earlier->what) {
            case Pending::What::removed:
                ec = std::make_error_code(std::errc::no_such_file_or_directory);
                break;
            case Pending::What::folder:
                ec = std::make_error_code(std::errc::is_a_directory);
                break;
            case Pending::What::file:
                if (earlier->bytes) return earlier->bytes;
                return platform::ReadFileBytes(*earlier->copyOf, ec);
        }
        return std::nullopt;
    }
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
    if (const Pending* earlier = m_previewing ? PendingAt(path) : nullptr) {
        if (earlier->copyOf) return platform::ReadableFile::Open(*earlier->copyOf, ec);
        // Not on the disk (yet): read with Read, as a staged file is.
        ec = earlier->what == Pending::What::folder ? std::make_error_code(std::errc::is_a_directory)
                                                    : std::make_error_code(std::errc::no_such_file_or_directory);
        return {};
    }
    const std::optional<Place> place = Reach(path, LastLink::follow, ec);
    if (!place) return {};
    if (m_transaction.IsRemovalStaged(*place) || place->kind == EntryKind::missing) {
        ec = std::make_error_code(std::errc::no_such_file_or_directory);
        return {};
    }
    return platform::ReadableFile::Open(*place, ec);
}

bool BundleFiles::Exists(const std::string& path) {
    if (const Pending* earlier = m_previewing ? PendingAt(path) : nullptr) {
        return earlier->what != Pending::What::removed;
    }
    std::error_code ec;
    const std::optional<Place> place = Reach(path, LastLink::keep, ec, false);
    if (!place) return false;
    if (m_transaction.IsRemovalStaged(*place)) return false;
    return place->kind != EntryKind::missing || m_transaction.IsStaged(*place);
}

bool BundleFiles::CanRead(const std::string& path) {
    if (const Pending* earlier = m_previewing ? PendingAt(path) : nullptr) {
        return earlier->what == Pending::What::file;
    }
    std::error_code ec;
    const std::optional<Place> place = Reach(path, LastLink::follow, ec, false);
    if (!place || place->kind != EntryKind::file) return false;
    return static_cast<bool>(platform::ReadableFile::Open(*place, ec));
}

EntryKind BundleFiles::KindOf(const std::string& path) {
    if (const Pending* earlier = m_previewing ? PendingAt(path) : nullptr) {
        switch (earlier->what) {
            case Pending::What::file:
                return EntryKind::file;
            case Pending::What::folder:
                return EntryKind::folder;
            case Pending::What::removed:
                return EntryKind::missing;
        }
    }
    std::error_code ec;
    const std::optional<Place> place = Reach(path, LastLink::follow, ec, false);
    return place ? place->kind : EntryKind::missing;
}

std::vector<platform::DirEntry> BundleFiles::List(const std::string& folder, std::string_view pattern,
                                                  std::error_code& ec) {
    std::vector<platform::DirEntry> entries;
    std::optional<platform::LinkOut> out;
    const bool pendingFolder = m_previewing && PendingAt(folder) != nullptr;
    const platform::FolderRef held = pendingFolder ? nullptr : m_tree.OpenFolder(folder, ec, &out);
    if (!held && out) NoteLinkOut(*out);
    const std::vector<platform::DirEntry>* listing = held ? platform::ListFolder(*held, ec) : nullptr;
    if (!pendingFolder && listing == nullptr) return entries;
    if (pendingFolder) ec.clear();
    std::set<std::string> listed;  // by KeyOf(name), previewing
    if (listing != nullptr) {
        for (const platform::DirEntry& entry : *listing) {
            if (m_previewing) {
                const Pending* earlier = PendingAt(platform::JoinPath(folder, entry.name));
                if (earlier && earlier->what == Pending::What::removed) continue;
                listed.insert(KeyOf(entry.name));
            }
            if (platform::MatchesWildcard(entry.name, pattern)) entries.push_back(entry);
        }
    }
    if (!m_previewing) return entries;
    // What the preview added, after what is there, as new entries come last.
    const std::string prefix = KeyOf(folder) + "/";
    for (auto it = m_pending.lower_bound(prefix); it != m_pending.end() && it->first.starts_with(prefix); ++it) {
        const std::string_view rest = std::string_view(it->first).substr(prefix.size());
        if (rest.find('/') != std::string_view::npos || it->second.what == Pending::What::removed ||
            listed.contains(std::string(rest))) {
            continue;
        }
        const std::string& path = it->second.path;
        const std::string name = path.substr(path.rfind('/') + 1);
        if (platform::MatchesWildcard(name, pattern)) {
            entries.push_back({name, it->second.what == Pending::What::folder});
        }
    }
    return entries;
}

std::vector<platform::DirEntry> BundleFiles::List(const std::string& folder, std::string_view pattern) {
    std::error_code ec;
    return List(folder, pattern, ec);
}

std::optional<platform::FolderIdentity> BundleFiles::IdentifyFolder(const std::string& path) {
    if (const Pending* earlier = m_previewing ? PendingAt(path) : nullptr) {
        if (earlier->what != Pending::What::folder) return std::nullopt;
        // No file system gives a folder this device.
        return platform::FolderIdentity{~0ULL, std::hash<std::string>{}(KeyOf(path))};
    }
    std::error_code ec;
    std::optional<platform::LinkOut> out;
    const platform::FolderRef held = m_tree.OpenFolder(path, ec, &out);
    if (out) NoteLinkOut(*out);
    if (!held) return std::nullopt;
    return held->Identity();
}

void BundleFiles::ReturnToParent(const std::string& child, const std::string& parent,
                                 const platform::FolderIdentity& expected) {
    if (m_previewing && PendingAt(child) != nullptr) return;  // not held: the parent is looked up again
    std::error_code ec;
    const platform::FolderRef held = m_tree.OpenFolder(child, ec);
    std::ignore = m_tree.OpenParent(held, parent, expected);
}

void BundleFiles::CommitWhenFull() {
    if (m_transaction.Full()) Commit();
}

void BundleFiles::Commit() {
    ++m_commits;
    if (m_previewing) return;
    for (const platform::CommitFailure& failure : m_transaction.Commit())
        NoteFailure(failure.removal ? "delete" : failure.copy ? "copy to" : "write", failure.path, failure.error);
    for (const FileChange& change : m_transaction.TakeChanges()) NoteChange(KindOfChange(change.kind), change.path);
    NoteKeepProblems();
}

void BundleFiles::Finish() {
    Commit();
    if (m_previewing) return;
    if (const std::error_code ec = m_transaction.SyncNames()) {
        m_report.AddProblem("Could not make the run's changes durable: " + ec.message() + ".\n");
    }
}

std::string BundleFiles::KeyOf(std::string_view path) {
    std::string key = platform::ToUpperText(path);
    while (key.size() > 1 && key.back() == '/') key.pop_back();
    return key;
}

const BundleFiles::Pending* BundleFiles::PendingAt(const std::string& path) const {
    const auto found = m_pending.find(KeyOf(path));
    return found == m_pending.end() ? nullptr : &found->second;
}

bool BundleFiles::InPendingFolder(const std::string& path) const {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return false;
    const Pending* folder = PendingAt(path.substr(0, slash));
    return folder != nullptr && folder->what == Pending::What::folder;
}

bool BundleFiles::Put(const std::string& path, std::string_view bytes, const Place* copyOf, const std::string& action) {
    Pending pending{Pending::What::file, path, std::nullopt, std::nullopt};
    if (copyOf != nullptr) {
        pending.copyOf = *copyOf;
    } else {
        pending.bytes = std::string(bytes);
    }
    const std::string key = KeyOf(path);
    if (InPendingFolder(path)) {
        // Everything in a folder the run creates is new.
        NoteChange(Change::Kind::create, path);
        m_pending[key] = std::move(pending);
        return true;
    }
    std::error_code ec;
    const std::optional<Place> place = Reach(path, LastLink::follow, ec);
    if (!place) {
        if (!LeadsOut(ec)) NoteFailure(action, path, ec);
        return false;
    }
    if (place->kind == EntryKind::special) ec = platform::MakeError(platform::FileError::notRegularFile);
    std::optional<FileChange::Kind> change;
    if (!ec) ec = m_transaction.Preview(*place, bytes, copyOf, m_madeWritable.contains(key), change);
    if (ec) {
        NoteFailure(action, path, ec);
        return false;
    }
    if (!change) {
        m_pending.erase(key);  // what is on the disk is what the run would leave
        return true;
    }
    NoteChange(KindOfChange(*change), place->path);
    m_pending[key] = std::move(pending);
    return true;
}

void BundleFiles::NoteChange(Change::Kind kind, const std::string& path) {
    if (m_changed.insert(KeyOf(path)).second) m_changes.push_back({kind, path});
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
