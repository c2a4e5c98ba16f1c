#include "platform/FileTransaction.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <utility>

#include "platform/ChangeRecord.h"
#include "platform/FolderListings.h"
#include "platform/StagingSystem.h"
#include "platform/Text.h"

// The bookkeeping of a transaction, the same on every system; the staged
// files themselves are the system's (StagingSystem.h).
namespace platform {

WriteSession::WriteSession() : m_state(sys::MakeSessionState(), &sys::EndSessionState) {}

WriteSession::~WriteSession() = default;

std::error_code WriteSession::SyncNames() {
    return sys::SyncNames(*m_state, sys::SyncReport::now);
}

struct FileTransaction::Touch {
    Place target;
    sys::SourceFacts facts;
};

struct FileTransaction::Staged {
    Place target;
    bool existed = false;  // a file was there to be replaced
    sys::StagedFacts facts;
    std::shared_ptr<sys::StagedFile> file;  // null once let go
};

namespace {

// Where a path leads as the system resolves it.
std::optional<Place> PlaceOf(const std::string& path, LastLink last) {
    FolderTree tree;
    return tree.Resolve(path, last).place;
}

std::error_code MissingFolder() {
    return std::make_error_code(std::errc::no_such_file_or_directory);
}

// Reads up to `length` bytes from `offset`; 0 at the end.
using ReadPiece =
    std::function<std::error_code(std::uint64_t offset, char* buffer, std::size_t length, std::size_t& got)>;

// Fills `buffer` from `offset` as far as `read` gives; false on a failure.
bool ReadFully(const ReadPiece& read, std::uint64_t offset, std::string& buffer) {
    std::size_t have = 0;
    while (have < buffer.size()) {
        std::size_t got = 0;
        if (read(offset + have, buffer.data() + have, buffer.size() - have, got)) return false;
        if (got == 0) break;
        have += got;
    }
    buffer.resize(have);
    return true;
}

// Whether the file at `target` holds exactly the `size` bytes `read` gives,
// comparing piece by piece: the old file is read once, and never whole.
bool SameBytes(const Place& target, std::uint64_t size, const ReadPiece& read) {
    std::error_code ec;
    const ReadableFile old = ReadableFile::Open(target, ec);
    if (!old || old.Size() != size) return false;
    const ReadPiece readOld = [&old](std::uint64_t offset, char* buffer, std::size_t length, std::size_t& got) {
        return old.ReadAt(offset, buffer, length, got);
    };
    constexpr std::size_t kPiece = std::size_t{1} << 16;
    for (std::uint64_t at = 0;; at += kPiece) {
        std::string mine(kPiece, '\0');
        std::string theirs(kPiece, '\0');
        if (!ReadFully(readOld, at, mine) || !ReadFully(read, at, theirs) || mine != theirs) return false;
        if (mine.size() < kPiece) return at + mine.size() == size;
    }
}

// Takes what a fill writes and compares it with the file it would replace,
// writing nothing: a file that would be given its own bytes is not staged.
// It stops the fill at the first byte that differs.
class ComparingWriter final : public StagedWriter {
public:
    explicit ComparingWriter(const ReadableFile& old) : m_old(old) {}

    bool Differs() const { return m_differs; }
    // Whether everything written so far is the old file, whole.
    bool SameAsOld() const { return !m_differs && m_end == m_old.Size(); }

    std::error_code Write(std::string_view bytes) override {
        if (!m_differs) {
            std::string old(bytes.size(), '\0');
            const ReadPiece read = [this](std::uint64_t offset, char* buffer, std::size_t length, std::size_t& got) {
                return m_old.ReadAt(offset, buffer, length, got);
            };
            m_differs = !ReadFully(read, m_at, old) || old != bytes;
        }
        if (m_differs) return std::make_error_code(std::errc::operation_canceled);
        m_at += bytes.size();
        m_end = std::max(m_end, m_at);
        return {};
    }
    std::error_code Seek(std::uint64_t offset) override {
        m_at = offset;
        return {};
    }
    std::uint64_t Tell() const override { return m_at; }
    std::error_code ReadAt(std::uint64_t offset, char* buffer, std::size_t length, std::size_t& got) override {
        // What was written so far is the old file's bytes.
        got = 0;
        if (offset >= m_end) return {};
        return m_old.ReadAt(offset, buffer, static_cast<std::size_t>(std::min<std::uint64_t>(length, m_end - offset)),
                            got);
    }

private:
    const ReadableFile& m_old;
    std::uint64_t m_at = 0;
    std::uint64_t m_end = 0;
    bool m_differs = false;
};

}  // namespace

FileTransaction::FileTransaction(WriteSession& session, std::uint64_t commitBytes)
    : m_session(session), m_commitBytes(commitBytes) {}

FileTransaction::FileTransaction()
    : m_ownSession(std::make_unique<WriteSession>()), m_session(*m_ownSession), m_commitBytes(kDefaultCommitBytes) {}

FileTransaction::~FileTransaction() {
    Discard();
}

std::error_code FileTransaction::Stage(const Place& target, std::string_view bytes) {
    return StageFrom(target, {bytes, nullptr, nullptr});
}

std::error_code FileTransaction::StageWritten(const Place& target, const FillStagedFile& fill) {
    return StageFrom(target, {{}, nullptr, &fill});
}

std::error_code FileTransaction::Stage(const std::string& target, std::string_view bytes) {
    const std::optional<Place> place = PlaceOf(target, LastLink::follow);
    return place ? Stage(*place, bytes) : MissingFolder();
}

std::error_code FileTransaction::StageCopy(const Place& target, const Place& source) {
    if (source.kind == EntryKind::missing) return std::make_error_code(std::errc::no_such_file_or_directory);
    return StageFrom(target, {{}, &source, nullptr});
}

std::error_code FileTransaction::StageCopy(const std::string& target, const std::string& source) {
    const std::optional<Place> from = PlaceOf(source, LastLink::follow);
    if (!from) return MissingFolder();
    const std::optional<Place> place = PlaceOf(target, LastLink::follow);
    return place ? StageCopy(*place, *from) : MissingFolder();
}

std::error_code FileTransaction::StageFrom(const Place& given, const sys::ContentSource& source) {
    if (!given.folder || given.name.empty()) return std::make_error_code(std::errc::is_a_directory);
    sys::TargetInfo info;
    if (const std::error_code ec = sys::InspectTarget(given, info)) return ec;
    Place target = given;
    if (!info.exists) {
        // A new file staged before under another letter case is the same file.
        if (const auto index = IndexOf(target.path, false)) target = m_staged[*index].target;
    }
    // What the file holds already is not written again.
    if (info.exists && source.fill == nullptr) {
        if (source.copyOf != nullptr) {
            sys::SourceFacts facts;
            if (!sys::DescribeSource(*source.copyOf, facts) && facts.size == info.size &&
                HoldsAlready(target, info.size, source, nullptr)) {
                LeaveAlone(target);
                if (facts.mode != info.mode || facts.modified != info.modified) m_touches.push_back({target, facts});
                return {};
            }
        } else if (source.bytes.size() == info.size && HoldsAlready(target, info.size, source, nullptr)) {
            LeaveAlone(target);
            return {};
        }
    } else if (info.exists) {
        // The fill is first compared with the file as it goes, and run again
        // into a staged file only when it differs: an unchanged file costs
        // reading it, not a staged copy.
        std::error_code ec;
        if (const ReadableFile old = ReadableFile::Open(target, ec); old && old.Size() == info.size) {
            ComparingWriter comparing(old);
            const std::error_code filled = (*source.fill)(comparing);
            if (!comparing.Differs()) {
                if (filled) return filled;
                if (comparing.SameAsOld()) {
                    LeaveAlone(target);
                    return {};
                }
            }
        }
    }
    Staged staged;
    staged.target = target;
    staged.existed = info.exists;
    const sys::StagedFile* previous = m_staged.empty() ? nullptr : m_staged.back().file.get();
    if (const std::error_code ec =
            sys::MakeStagedFile(m_session.State(), target, info, source, previous, staged.file, staged.facts)) {
        return ec;
    }
    if (info.exists && source.fill != nullptr && staged.facts.bytes == info.size &&
        HoldsAlready(target, info.size, source, staged.file.get())) {
        sys::DropStagedFile(m_session.State(), *staged.file);
        LeaveAlone(target);
        return {};
    }
    std::erase_if(m_touches, [&](const Touch& touch) { return touch.target.path == target.path; });
    CancelRemoval(target.path);
    m_stagedBytes += staged.facts.bytes;
    if (const auto found = m_byTarget.find(target.path); found != m_byTarget.end()) {
        Staged& earlier = m_staged[found->second];
        m_stagedBytes -= earlier.facts.bytes;
        Drop(earlier);
        earlier = std::move(staged);
        return {};
    }
    m_byTarget.emplace(target.path, m_staged.size());
    if (!info.exists) m_created.emplace(ToUpperText(target.path), m_staged.size());
    m_staged.push_back(std::move(staged));
    return {};
}

std::error_code FileTransaction::Preview(const Place& target, std::string_view bytes, const Place* copyOf,
                                         bool writable, std::optional<FileChange::Kind>& change) const {
    change.reset();
    if (!target.folder || target.name.empty() || target.kind == EntryKind::folder) {
        return std::make_error_code(std::errc::is_a_directory);
    }
    sys::SourceFacts source;
    if (copyOf != nullptr) {
        if (const std::error_code ec = sys::DescribeSource(*copyOf, source)) return ec;
    }
    if (target.kind != EntryKind::file) {
        change = FileChange::Kind::create;  // new, or a dangling link replaced as it stands
        return {};
    }
    if (!writable && IsReadOnly(target)) return std::make_error_code(std::errc::permission_denied);
    const std::uint64_t size = copyOf != nullptr ? source.size : bytes.size();
    if (!HoldsAlready(target, size, {bytes, copyOf, nullptr}, nullptr)) {
        change = FileChange::Kind::replace;
        return {};
    }
    if (copyOf != nullptr) {
        sys::SourceFacts old;
        if (const std::error_code ec = sys::DescribeSource(target, old)) return ec;
        if (old.mode != source.mode || old.modified != source.modified) change = FileChange::Kind::touch;
    }
    return {};
}

std::optional<std::size_t> FileTransaction::IndexOf(const std::string& path, bool exists) const {
    if (const auto found = m_byTarget.find(path); found != m_byTarget.end()) return found->second;
    // A new file staged before under another letter case is the same file.
    if (exists) return std::nullopt;
    if (const auto created = m_created.find(ToUpperText(path)); created != m_created.end()) return created->second;
    return std::nullopt;
}

const FileTransaction::Staged* FileTransaction::Find(const Place& target) const {
    const std::optional<std::size_t> index = IndexOf(target.path, target.kind != EntryKind::missing);
    if (!index || !m_staged[*index].file) return nullptr;
    return &m_staged[*index];
}

bool FileTransaction::IsStaged(const Place& target) const {
    return Find(target) != nullptr;
}

bool FileTransaction::IsStaged(const std::string& target) const {
    const std::optional<Place> place = PlaceOf(target, LastLink::follow);
    return place && IsStaged(*place);
}

std::optional<std::string> FileTransaction::ReadStaged(const Place& target) const {
    const Staged* staged = Find(target);
    if (staged == nullptr) return std::nullopt;
    return sys::ReadStagedFile(m_session.State(), *staged->file);
}

std::optional<std::string> FileTransaction::ReadStaged(const std::string& target) const {
    const std::optional<Place> place = PlaceOf(target, LastLink::follow);
    return place ? ReadStaged(*place) : std::nullopt;
}

bool FileTransaction::HoldsAlready(const Place& target, std::uint64_t size, const sys::ContentSource& source,
                                   const sys::StagedFile* staged) const {
    if (staged != nullptr) {
        return SameBytes(target, size, [&](std::uint64_t offset, char* buffer, std::size_t length, std::size_t& got) {
            return sys::ReadStagedAt(m_session.State(), *staged, offset, buffer, length, got);
        });
    }
    if (source.copyOf == nullptr) {
        const std::string_view bytes = source.bytes;
        return SameBytes(
            target, size, [bytes](std::uint64_t offset, char* buffer, std::size_t length, std::size_t& got) {
                got = offset >= bytes.size() ? 0 : bytes.copy(buffer, length, static_cast<std::size_t>(offset));
                return std::error_code{};
            });
    }
    std::error_code ec;
    const ReadableFile copied = ReadableFile::Open(*source.copyOf, ec);
    if (!copied) return false;
    return SameBytes(target, size, [&copied](std::uint64_t offset, char* buffer, std::size_t length, std::size_t& got) {
        return copied.ReadAt(offset, buffer, length, got);
    });
}

void FileTransaction::LeaveAlone(const Place& target) {
    if (const auto index = IndexOf(target.path, true); index && m_staged[*index].file) {
        m_stagedBytes -= m_staged[*index].facts.bytes;
        m_staged[*index].facts.bytes = 0;
        Drop(m_staged[*index]);
    }
    std::erase_if(m_touches, [&](const Touch& touch) { return touch.target.path == target.path; });
    CancelRemoval(target.path);
}

void FileTransaction::Drop(Staged& staged) {
    if (staged.file) sys::DropStagedFile(m_session.State(), *staged.file);
    staged.file.reset();
}

void FileTransaction::Unstage(const Place& target) {
    if (Staged* staged = const_cast<Staged*>(Find(target))) {
        m_stagedBytes -= staged->facts.bytes;
        staged->facts.bytes = 0;
        Drop(*staged);  // Commit passes over an entry without a file
    }
}

void FileTransaction::Unstage(const std::string& target) {
    if (const std::optional<Place> place = PlaceOf(target, LastLink::follow)) Unstage(*place);
}

void FileTransaction::StageRemoval(const Place& target) {
    Unstage(target);
    if (!IsRemovalStaged(target)) m_removals.push_back(target);
}

void FileTransaction::StageRemoval(const std::string& target) {
    if (const std::optional<Place> place = PlaceOf(target, LastLink::keep)) StageRemoval(*place);
}

bool FileTransaction::IsRemovalStaged(const Place& target) const {
    return std::any_of(m_removals.begin(), m_removals.end(),
                       [&](const Place& removal) { return removal.path == target.path; });
}

bool FileTransaction::IsRemovalStaged(const std::string& target) const {
    const std::optional<Place> place = PlaceOf(target, LastLink::keep);
    return place && IsRemovalStaged(*place);
}

void FileTransaction::CancelRemoval(const std::string& path) {
    std::erase_if(m_removals, [&](const Place& removal) { return removal.path == path; });
}

std::size_t FileTransaction::StagedFiles() const {
    return static_cast<std::size_t>(
        std::count_if(m_staged.begin(), m_staged.end(), [](const Staged& staged) { return staged.file != nullptr; }));
}

bool FileTransaction::Full() const {
    return m_staged.size() >= sys::StagedFileBound() || m_stagedBytes >= m_commitBytes;
}

void FileTransaction::Discard() {
    for (Staged& staged : m_staged) Drop(staged);
    m_removals.clear();
    m_touches.clear();
    m_staged.clear();
    m_byTarget.clear();
    m_created.clear();
    m_stagedBytes = 0;
}

std::vector<CommitFailure> FileTransaction::Commit() {
    std::vector<CommitFailure> failures;
    sys::SessionState& state = m_session.State();
    sys::WaitUntilFilled(state);
    // One wait per file system for all of its staged files.
    std::map<std::uint64_t, std::vector<Staged*>> byDevice;
    for (Staged& staged : m_staged) {
        if (!staged.file) continue;  // unstaged again
        // A copy that failed on the way keeps the old file.
        if (const std::error_code ec = sys::FillFailure(*staged.file)) {
            failures.push_back({staged.target.path, ec, false, true});
            Drop(staged);
            continue;
        }
        byDevice[staged.facts.device].push_back(&staged);
    }
    for (auto& [device, group] : byDevice) {
        std::vector<sys::StagedFile*> files;
        for (Staged* staged : group) files.push_back(staged->file.get());
        const std::error_code ec = sys::MakeDurable(state, files);
        if (!ec) continue;
        for (Staged* staged : group) {
            failures.push_back({staged->target.path, ec});
            Drop(*staged);
        }
    }
    if (m_record != nullptr) {
        if (const std::error_code ec = m_record->BeforeChanges(Planned())) {
            // What cannot be taken back is not done.
            for (Staged& staged : m_staged) {
                if (staged.file) failures.push_back({staged.target.path, ec});
            }
            for (const Touch& touch : m_touches) failures.push_back({touch.target.path, ec, false, true});
            for (const Place& removal : m_removals) failures.push_back({removal.path, ec, true});
            Discard();
            return failures;
        }
    }
    PutAllInPlace(failures);
    // The replaced and deleted files' space is free once their names are
    // gone; ext4 without ordered data hands it to the next content written at
    // once, so the names must be on the disk before any of it is. A failure
    // is reported by the run's last SyncNames.
    std::ignore = sys::SyncNames(state, sys::SyncReport::later);
    return failures;
}

std::vector<PlannedChange> FileTransaction::Planned() const {
    std::vector<PlannedChange> planned;
    for (const Staged& staged : m_staged) {
        if (staged.file) {
            planned.push_back({staged.existed ? FileChange::Kind::replace : FileChange::Kind::create, staged.target});
        }
    }
    for (const Touch& touch : m_touches) planned.push_back({FileChange::Kind::touch, touch.target});
    for (const Place& removal : m_removals) {
        if (removal.kind != EntryKind::missing) planned.push_back({FileChange::Kind::remove, removal});
    }
    return planned;
}

void FileTransaction::PutAllInPlace(std::vector<CommitFailure>& failures) {
    sys::SessionState& state = m_session.State();
    std::vector<PlannedChange> made;
    {
        listings::ChangeBatch batch;  // staged files come folder by folder
        for (Staged& staged : m_staged) {
            if (!staged.file) continue;
            if (const std::error_code ec = sys::PutInPlace(state, *staged.file, staged.target, staged.existed, batch)) {
                failures.push_back({staged.target.path, ec});
            } else {
                for (KeepProblem& problem : staged.facts.problems) m_problems.push_back(std::move(problem));
                made.push_back({staged.existed ? FileChange::Kind::replace : FileChange::Kind::create, staged.target});
            }
            Drop(staged);
        }
    }
    for (const Touch& touch : m_touches) {
        if (const std::error_code ec = sys::TakeSourceFacts(touch.target, touch.facts)) {
            failures.push_back({touch.target.path, ec, false, true});
        } else {
            made.push_back({FileChange::Kind::touch, touch.target});
        }
    }
    for (const Place& removal : m_removals) {
        bool removed = false;
        if (const std::error_code ec = RemoveFile(removal, &removed)) {
            failures.push_back({removal.path, ec, true});
        } else if (removed) {
            sys::NoteRemoved(state, removal);
            made.push_back({FileChange::Kind::remove, removal});
        }
    }
    for (const PlannedChange& change : made) m_changes.push_back({change.kind, change.target.path});
    if (m_record != nullptr) m_record->AfterChanges(made);
    Discard();
}

std::vector<FileChange> FileTransaction::TakeChanges() {
    return std::exchange(m_changes, {});
}

std::vector<KeepProblem> FileTransaction::TakeKeepProblems() {
    return std::exchange(m_problems, {});
}

std::error_code FileTransaction::SyncNames() {
    return m_session.SyncNames();
}

}  // namespace platform
