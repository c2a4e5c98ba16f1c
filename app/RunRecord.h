#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "app/RunJournal.h"
#include "platform/ChangeRecord.h"
#include "platform/RunRecordSystem.h"

// The folder this user's undo records are kept in, for runs with
// `installFolder`: "undo runs" in it where the user can keep a private folder
// there, else "undo runs" in the user's state folder. Made when `make` is set;
// nothing with the reason when there is none.
platform::FolderRef OpenRunRecords(const std::string& installFolder, bool make, std::error_code& ec);
// The runs kept in `records`, oldest first.
std::vector<std::string> KeptRunIds(const platform::HeldFolder& records);
// The journal of the kept run `id`; nothing with the reason.
std::optional<runjournal::Run> ReadRunJournal(const platform::FolderRef& records, const std::string& id,
                                              std::error_code& ec);
inline constexpr const char* kRunJournalName = "journal";

// Keeps what one run changes so that it can be taken back: the old version of
// every file it replaces or deletes (a second name for it where the system
// allows, which costs no space while the run's replace leaves the old data
// in place; a copy otherwise), its owner, bits and times, and a journal line
// for every change, on the disk before the change is made. The record is a
// numbered folder in OpenRunRecords' folder, made at the first change, so a
// run that changes nothing leaves none; making it drops the oldest records
// beyond `keep`. When the disk runs short the oldest other record goes, and
// a note says so.
class RunRecord final : public platform::ChangeRecord {
public:
    RunRecord(std::string installFolder, const std::tm& date, std::string job, std::string startFolder,
              std::vector<std::string> roots, int keep);
    ~RunRecord() override;
    RunRecord(const RunRecord&) = delete;
    RunRecord& operator=(const RunRecord&) = delete;

    [[nodiscard]] std::error_code BeforeChanges(const std::vector<platform::PlannedChange>& changes) override;
    void AfterChanges(const std::vector<platform::PlannedChange>& made) override;
    [[nodiscard]] std::error_code BeforeFolderCreated(const platform::Place& place) override;
    [[nodiscard]] std::error_code BeforeModeChanged(const platform::Place& place) override;
    // After the run appended `path` from `oldLength` to `newLength` bytes:
    // undo cuts those bytes off while they are still the file's tail.
    [[nodiscard]] std::error_code NoteAppend(const std::string& path, std::uint64_t oldLength, std::uint64_t newLength);

    // Makes everything recorded durable; call once the run's changes are made.
    void Finish();
    // What the patch log should say of the record (records dropped for room,
    // a record that could not be kept).
    std::vector<std::string> TakeNotes();
    // The run's number among the records; empty until the record is made.
    const std::string& Id() const { return m_id; }

    // Before a run: a record of a run cut short (a kill, a power cut) may
    // keep a second name of a file the run never got to replace, which would
    // count among the file's other names; it is let go, and the record closed.
    static void CloseCutShortRecords(const std::string& installFolder);

private:
    [[nodiscard]] std::error_code Start();
    // Appends `lines` to the journal, durably when `sync` is set.
    [[nodiscard]] std::error_code Write(const std::string& lines, bool sync);
    // Keeps the old versions of `changes` and writes their lines; once.
    [[nodiscard]] std::error_code Record(const std::vector<platform::PlannedChange>& changes);
    // Drops the oldest record but this one to make room; false when there is none.
    bool MakeRoom();
    void NoteFailure(const std::error_code& ec);

    std::string m_installFolder;
    std::string m_date;
    std::string m_job;
    std::string m_startFolder;
    std::vector<std::string> m_roots;
    int m_keep;

    platform::FolderRef m_records;
    platform::FolderRef m_folder;
    std::string m_id;
    platform::RecordJournal m_journal;
    std::error_code m_startFailure;
    std::map<std::string, bool> m_seen;  // paths recorded, with whether their old version is kept
    // What the last BeforeChanges kept: each path with its name in the record.
    std::vector<std::pair<std::string, std::string>> m_lastKept;
    std::string m_afterLines;  // what the last commit did, for the next write
    int m_kept = 0;
    std::vector<std::string> m_notes;
    bool m_failureNoted = false;
};
