#include "app/RunRecord.h"

#include <algorithm>
#include <charconv>
#include <set>
#include <tuple>
#include <utility>

#include "platform/FileSystem.h"
#include "platform/FolderTree.h"
#include "writers/Escape.h"

namespace {

constexpr const char* kRecordsName = "undo runs";

std::string DateText(const std::tm& date) {
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &date);
    return text;
}

bool IsRunId(const std::string& name) {
    return !name.empty() && name.size() < 12 &&
           std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

platform::Place KeptPlace(const platform::FolderRef& folder, const std::string& name) {
    return {folder, name, platform::JoinPath(folder->Path(), name), platform::EntryKind::file};
}

unsigned long long RunNumber(const std::string& id) {
    unsigned long long number = 0;
    std::ignore = std::from_chars(id.data(), id.data() + id.size(), number);
    return number;
}

}  // namespace

platform::FolderRef OpenRunRecords(const std::string& installFolder, bool make, std::error_code& ec) {
    const auto how = make ? platform::PrivateFolder::openOrMake : platform::PrivateFolder::open;
    std::error_code first;
    for (const std::string& parentPath : {installFolder, platform::UserStateFolder(make)}) {
        if (parentPath.empty()) continue;
        const platform::FolderRef parent = platform::OpenFolderPath(parentPath, ec);
        platform::FolderRef records = parent ? platform::OpenPrivateFolder(parent, kRecordsName, how, ec) : nullptr;
        if (records) {
            ec.clear();
            return records;
        }
        if (!first) first = ec;
    }
    ec = first ? first : std::make_error_code(std::errc::no_such_file_or_directory);
    return nullptr;
}

std::vector<std::string> KeptRunIds(const platform::HeldFolder& records) {
    std::error_code ec;
    std::vector<std::string> ids;
    if (const std::vector<platform::DirEntry>* entries = platform::ListFolder(records, ec)) {
        for (const platform::DirEntry& entry : *entries) {
            if (entry.isDirectory && IsRunId(entry.name)) ids.push_back(entry.name);
        }
    }
    std::sort(ids.begin(), ids.end(),
              [](const std::string& a, const std::string& b) { return RunNumber(a) < RunNumber(b); });
    return ids;
}

std::optional<runjournal::Run> ReadRunJournal(const platform::FolderRef& records, const std::string& id,
                                              std::error_code& ec) {
    const platform::FolderRef folder = platform::OpenPrivateFolder(records, id, platform::PrivateFolder::open, ec);
    if (!folder) return std::nullopt;
    const platform::Place journal{folder, kRunJournalName, platform::JoinPath(folder->Path(), kRunJournalName),
                                  platform::EntryKind::file};
    const std::optional<std::string> text = platform::ReadFileBytes(journal, ec);
    if (!text) return std::nullopt;
    return runjournal::Parse(*text);
}

RunRecord::RunRecord(std::string installFolder, const std::tm& date, std::string job, std::string startFolder,
                     std::vector<std::string> roots, int keep)
    : m_installFolder(std::move(installFolder)),
      m_date(DateText(date)),
      m_job(std::move(job)),
      m_startFolder(std::move(startFolder)),
      m_roots(std::move(roots)),
      m_keep(std::max(keep, 1)) {}

RunRecord::~RunRecord() = default;

std::error_code RunRecord::Start() {
    if (m_folder) return {};
    if (m_startFailure) return m_startFailure;
    std::error_code ec;
    m_records = OpenRunRecords(m_installFolder, true, ec);
    if (!m_records) return m_startFailure = ec;
    std::vector<std::string> ids = KeptRunIds(*m_records);
    // The oldest records go, so that this one makes `keep`.
    while (!ids.empty() && ids.size() >= static_cast<std::size_t>(m_keep)) {
        std::ignore = platform::RemoveFlatFolder(*m_records, ids.front());
        ids.erase(ids.begin());
    }
    unsigned long long next = ids.empty() ? 1 : RunNumber(ids.back()) + 1;
    // Another run of this user may take a number at the same time.
    for (int attempt = 0; attempt < 100 && !m_folder; ++attempt, ++next) {
        m_folder = platform::OpenPrivateFolder(m_records, std::to_string(next), platform::PrivateFolder::makeNew, ec);
        if (!m_folder && ec != std::errc::file_exists) return m_startFailure = ec;
    }
    if (!m_folder) return m_startFailure = ec;
    m_id = std::to_string(next - 1);
    if ((ec = m_journal.Open(*m_folder, kRunJournalName)) ||
        (ec = Write(runjournal::HeaderLines(m_date, m_job, m_startFolder, m_roots), false))) {
        m_folder.reset();
        return m_startFailure = ec;
    }
    return {};
}

std::error_code RunRecord::Write(const std::string& lines, bool sync) {
    if (const std::error_code ec = m_journal.Append(std::exchange(m_afterLines, {}) + lines)) return ec;
    return sync ? m_journal.Sync() : std::error_code{};
}

std::error_code RunRecord::Record(const std::vector<platform::PlannedChange>& changes) {
    using Kind = platform::FileChange::Kind;
    std::string lines;
    std::map<std::string, bool> seen;  // taken into m_seen once the lines are durable
    const auto known = [&](const std::string& path) -> std::optional<bool> {
        if (const auto found = seen.find(path); found != seen.end()) return found->second;
        if (const auto found = m_seen.find(path); found != m_seen.end()) return found->second;
        return std::nullopt;
    };
    bool copies = false;
    int keptNumber = m_kept;
    std::vector<std::pair<std::string, std::string>> keptNow;
    // What was kept for changes that are then not made would count among their files' other names.
    const auto fail = [&](std::error_code ec) {
        for (const auto& [path, name] : keptNow) std::ignore = platform::RemoveFile(KeptPlace(m_folder, name));
        return ec;
    };
    for (const platform::PlannedChange& change : changes) {
        const std::string& path = change.target.path;
        const std::optional<bool> was = known(path);
        // What a path was before the run is recorded once: its first change.
        if (was && (*was || change.kind == Kind::touch || change.kind == Kind::create)) continue;
        platform::EntryFacts facts;
        // A new file needs no look: there is nothing to keep.
        if (change.kind != Kind::create) {
            if (const std::error_code ec = platform::DescribeEntry(change.target, facts)) return fail(ec);
        }
        if (!facts.exists || !facts.regular) {
            // New, or a dangling link replaced as it stands: undo removes what the run puts there.
            lines += runjournal::CreatedLine(path);
            seen[path] = true;
        } else if (change.kind == Kind::touch) {
            lines += runjournal::FactsLine(path, facts);
            seen[path] = false;
        } else {
            const std::string name = "k" + std::to_string(++keptNumber);
            bool copied = false;
            if (const std::error_code ec = platform::KeepFile(change.target, *m_folder, name, copied)) return fail(ec);
            keptNow.emplace_back(path, name);
            copies |= copied;
            lines += runjournal::KeptLine(path, name, facts);
            seen[path] = true;
        }
    }
    m_lastKept.clear();
    if (lines.empty()) return {};
    if (!keptNow.empty()) {
        if (const std::error_code ec = platform::SyncRecord(*m_folder, copies)) return fail(ec);
    }
    if (const std::error_code ec = Write(lines, true)) return fail(ec);
    m_kept = keptNumber;
    m_lastKept = std::move(keptNow);
    seen.merge(m_seen);
    m_seen = std::move(seen);
    return {};
}

std::error_code RunRecord::BeforeChanges(const std::vector<platform::PlannedChange>& changes) {
    if (changes.empty()) return {};
    std::error_code ec = Start();
    // A short disk costs the oldest records first, not the run's changes.
    while (!ec && (ec = Record(changes)) == std::errc::no_space_on_device && MakeRoom()) {
    }
    if (ec) NoteFailure(ec);
    return ec;
}

void RunRecord::AfterChanges(const std::vector<platform::PlannedChange>& made) {
    if (!m_folder) return;
    std::string lines;
    std::set<std::string> madePaths;
    for (const platform::PlannedChange& change : made) {
        platform::EntryFacts facts;
        if (!platform::DescribeEntry(change.target, facts)) lines += runjournal::AfterLine(change.target.path, facts);
        madePaths.insert(change.target.path);
    }
    for (const auto& [path, name] : std::exchange(m_lastKept, {})) {
        if (madePaths.contains(path)) continue;
        std::ignore = platform::RemoveFile(KeptPlace(m_folder, name));
        lines += runjournal::VoidLine(path);
        m_seen.erase(path);
    }
    // Written with the next lines, once the commit has made its names durable:
    // until then nothing is written that could take the space of what it
    // replaced. A file whose line is lost is restored without the check for later edits.
    m_afterLines += lines;
}

std::error_code RunRecord::BeforeFolderCreated(const platform::Place& place) {
    std::error_code ec = Start();
    // Not waited for here: a folder is empty until a commit puts files in
    // it, and the commit makes this line durable first. A power cut before
    // then can leave only an empty folder that undo does not know of.
    if (!ec) ec = Write(runjournal::FolderLine(place.path), false);
    if (ec) NoteFailure(ec);
    return ec;
}

std::error_code RunRecord::BeforeModeChanged(const platform::Place& place) {
    std::error_code ec = Start();
    if (!ec && !m_seen.contains(place.path)) {
        platform::EntryFacts facts;
        if (!(ec = platform::DescribeEntry(place, facts)) && facts.exists &&
            !(ec = Write(runjournal::FactsLine(place.path, facts), true))) {
            m_seen[place.path] = false;
        }
    }
    if (ec) NoteFailure(ec);
    return ec;
}

std::error_code RunRecord::NoteAppend(const std::string& path, std::uint64_t oldLength, std::uint64_t newLength) {
    std::error_code ec = Start();
    runjournal::Append append{path, oldLength, newLength, {}};
    if (!ec) ec = platform::ChecksumAppended(path, oldLength, newLength, append.checksums);
    if (!ec) ec = Write(runjournal::AppendLine(append), true);
    if (ec) NoteFailure(ec);
    return ec;
}

void RunRecord::Finish() {
    if (!m_journal.IsOpen()) return;
    if (const std::error_code ec = Write(runjournal::ClosedLine(), true)) NoteFailure(ec);
    m_journal.Close();
}

void RunRecord::CloseCutShortRecords(const std::string& installFolder) {
    std::error_code ec;
    const platform::FolderRef records = OpenRunRecords(installFolder, false, ec);
    if (!records) return;
    for (const std::string& id : KeptRunIds(*records)) {
        const std::optional<runjournal::Run> run = ReadRunJournal(records, id, ec);
        if (!run || run->closed) continue;
        const platform::FolderRef folder = platform::OpenPrivateFolder(records, id, platform::PrivateFolder::open, ec);
        platform::RecordJournal journal;
        if (!folder || journal.Open(*folder, kRunJournalName)) continue;
        platform::FolderTree tree;
        std::ignore = tree.ConfineTo(run->roots);
        std::string lines;
        for (const runjournal::File& file : run->files) {
            if (file.was != runjournal::File::Was::kept || file.after) continue;
            const platform::Resolution reached = tree.Resolve(file.path, platform::LastLink::keep);
            platform::EntryFacts inTree;
            platform::EntryFacts kept;
            const platform::Place keptPlace = KeptPlace(folder, file.kept);
            if (!reached.place || platform::DescribeEntry(*reached.place, inTree) ||
                platform::DescribeEntry(keptPlace, kept) || !inTree.exists || !kept.exists ||
                inTree.device != kept.device || inTree.index != kept.index) {
                continue;
            }
            // The file was never replaced: it is its own old version.
            std::ignore = platform::RemoveFile(keptPlace);
            lines += runjournal::VoidLine(file.path);
        }
        // Second names made just before the cut, whose lines never reached the journal.
        std::set<std::string> named = {kRunJournalName};
        for (const runjournal::File& file : run->files) named.insert(file.kept);
        if (const std::vector<platform::DirEntry>* entries = platform::ListFolder(*folder, ec)) {
            const std::vector<platform::DirEntry> listed = *entries;
            for (const platform::DirEntry& entry : listed) {
                if (!entry.isDirectory && !named.contains(entry.name)) {
                    std::ignore = platform::RemoveFile(KeptPlace(folder, entry.name));
                }
            }
        }
        std::ignore = journal.Append(lines + runjournal::ClosedLine());
        std::ignore = journal.Sync();
    }
}

bool RunRecord::MakeRoom() {
    const std::vector<std::string> ids = KeptRunIds(*m_records);
    const auto oldest = std::find_if(ids.begin(), ids.end(), [this](const std::string& id) { return id != m_id; });
    if (oldest == ids.end()) return false;
    std::error_code ec;
    const std::optional<runjournal::Run> run = ReadRunJournal(m_records, *oldest, ec);
    if (platform::RemoveFlatFolder(*m_records, *oldest)) return false;
    m_notes.push_back("The disk ran short: the undo record of run " + *oldest +
                      (run ? " (" + run->date + ", '" + EscapeLogPath(run->folder) + "')" : std::string()) +
                      " was removed to make room.\n");
    return true;
}

void RunRecord::NoteFailure(const std::error_code& ec) {
    if (m_failureNoted) return;
    m_failureNoted = true;
    m_notes.push_back("The undo record of this run could not be kept (" + ec.message() +
                      "): the changes it could not record were not made. Free some space, or run with "
                      "keepUndoRuns=0 to run without an undo record.\n");
}

std::vector<std::string> RunRecord::TakeNotes() {
    return std::exchange(m_notes, {});
}
