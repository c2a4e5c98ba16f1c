#include "app/UndoRun.h"

#include <algorithm>
#include <tuple>

#include "app/PatchLog.h"
#include "app/QuarvelRun.h"
#include "app/RunRecord.h"
#include "platform/FileSystem.h"
#include "platform/FileTransaction.h"
#include "platform/FolderTree.h"
#include "platform/RunRecordSystem.h"
#include "writers/Escape.h"

namespace {

constexpr const char* kCaption = "Undo last run";

KeptRun Describe(const platform::FolderRef& records, const std::string& id, const runjournal::Run& run) {
    KeptRun kept{id, run.date, run.job, run.folder, static_cast<int>(run.files.size()), 0, !run.undone.empty()};
    std::error_code ec;
    const platform::FolderRef folder = platform::OpenPrivateFolder(records, id, platform::PrivateFolder::open, ec);
    const std::vector<platform::DirEntry>* entries = folder ? platform::ListFolder(*folder, ec) : nullptr;
    if (entries == nullptr) return kept;
    for (const platform::DirEntry& entry : *entries) {
        platform::EntryFacts facts;
        if (!platform::DescribeEntry({folder, entry.name, platform::JoinPath(folder->Path(), entry.name)}, facts)) {
            kept.bytes += facts.size;
        }
    }
    return kept;
}

using File = runjournal::File;

std::string Plural(int count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

bool Matches(const platform::EntryFacts& now, std::uint64_t size, std::int64_t modified) {
    return now.exists && now.regular && now.size == size && now.modified == modified;
}

// Whether the file is as the run left it. What the run left is known by size
// and last-write time: a copy put back by an undo of a later run has both.
bool AsTheRunLeftIt(const File& file, const platform::EntryFacts& now) {
    if (!file.after) return true;  // the run ended before it could say: taken to be its
    if (!file.after->exists) return !now.exists;
    return Matches(now, file.after->size, file.after->modified);
}

// What one file of the run needs.
struct Step {
    const File* file;
    platform::Place place;
    enum class Action { restore, remove, facts } action;
};

}  // namespace

std::vector<KeptRun> ListKeptRuns(const std::string& installFolder) {
    std::vector<KeptRun> runs;
    std::error_code ec;
    const platform::FolderRef records = OpenRunRecords(installFolder, false, ec);
    if (!records) return runs;
    for (const std::string& id : KeptRunIds(*records)) {
        if (const std::optional<runjournal::Run> run = ReadRunJournal(records, id, ec)) {
            runs.push_back(Describe(records, id, *run));
        }
    }
    return runs;
}

UndoResult UndoRun(const std::string& installFolder, const std::string& wanted, bool force,
                   const std::function<void(int, const std::string&)>& progress) {
    UndoResult result;
    std::error_code ec;
    const platform::FolderRef records = OpenRunRecords(installFolder, false, ec);
    const std::vector<std::string> ids = records ? KeptRunIds(*records) : std::vector<std::string>{};
    if (ids.empty()) {
        result.problem = "No run is kept that could be taken back.";
        return result;
    }
    const std::string id = wanted.empty() ? ids.back() : wanted;
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) {
        result.problem = "No run " + id + " is kept; --list-runs lists those that are.";
        return result;
    }
    const std::optional<runjournal::Run> run = ReadRunJournal(records, id, ec);
    const platform::FolderRef recordFolder =
        platform::OpenPrivateFolder(records, id, platform::PrivateFolder::open, ec);
    if (!run || !recordFolder) {
        result.problem = "The record of run " + id + " cannot be read: " + ec.message() + ".";
        return result;
    }
    result.run = Describe(records, id, *run);
    const auto note = [&result](std::string line, bool failure) {
        result.notes.push_back(std::move(line));
        if (failure) ++result.failures;
    };

    // Reached as the run reached them: through the folders it could change,
    // never through a link that leads out of them.
    {
        platform::FolderTree tree;
        std::ignore = tree.ConfineTo(run->roots);
        platform::FileTransaction transaction;
        std::vector<Step> steps;
        int done = 0;
        for (const File& file : run->files) {
            if (progress) progress(++done, file.path);
            platform::Resolution reached = tree.Resolve(file.path, platform::LastLink::keep);
            if (!reached.place && file.was == File::Was::missing && !reached.out &&
                (reached.error == std::errc::no_such_file_or_directory ||
                 reached.error == std::errc::not_a_directory)) {
                continue;  // its folder is gone already, and the file with it
            }
            if (!reached.place) {
                note("'" + EscapeLogPath(file.path) + "' could not be reached: " +
                         (reached.out ? "a link on its way leads out" : reached.error.message()) + ".\n",
                     true);
                continue;
            }
            platform::Place& place = *reached.place;
            platform::EntryFacts now;
            if ((ec = platform::DescribeEntry(place, now))) {
                note("'" + EscapeLogPath(file.path) + "' could not be looked at: " + ec.message() + ".\n", true);
                continue;
            }
            const bool asBefore =
                file.was != File::Was::missing && Matches(now, file.before.size, file.before.modified);
            if (file.was == File::Was::missing && !now.exists) continue;  // gone already
            if (now.exists && !now.regular) {
                note("'" + EscapeLogPath(file.path) + "' is no longer a file; it was left as it is.\n", true);
                continue;
            }
            if (!AsTheRunLeftIt(file, now) && !asBefore && !force) {
                result.refused.push_back(file.path);
                note("'" + EscapeLogPath(file.path) + "' was changed since the run and was left as it is.\n", false);
                continue;
            }
            if (file.was == File::Was::missing) {
                transaction.StageRemoval(place);
                steps.push_back({&file, place, Step::Action::remove});
                continue;
            }
            if (file.was == File::Was::same) {
                if (!now.exists) {
                    note("'" + EscapeLogPath(file.path) + "' is gone; its old bits and times cannot be put back.\n",
                         true);
                } else {
                    steps.push_back({&file, place, Step::Action::facts});
                }
                continue;
            }
            // A file made read-only since is replaced all the same (--force, or its old state).
            if (now.exists && platform::IsReadOnly(place)) std::ignore = platform::ClearReadOnly(place);
            const platform::Place kept{recordFolder, file.kept, platform::JoinPath(recordFolder->Path(), file.kept),
                                       platform::EntryKind::file};
            if ((ec = transaction.StageCopy(place, kept))) {
                note("'" + EscapeLogPath(file.path) + "' could not be restored: " + ec.message() + ".\n", true);
                continue;
            }
            steps.push_back({&file, place, Step::Action::restore});
        }

        std::vector<std::string> failed;
        for (const platform::CommitFailure& failure : transaction.Commit()) {
            failed.push_back(failure.path);
            note("'" + EscapeLogPath(failure.path) + "' could not be " + (failure.removal ? "deleted" : "restored") +
                     ": " + failure.error.message() + ".\n",
                 true);
        }
        for (const Step& step : steps) {
            if (std::find(failed.begin(), failed.end(), step.place.path) != failed.end()) continue;
            if (step.action == Step::Action::remove) {
                ++result.removed;
                note("deleted '" + EscapeLogPath(step.place.path) + "'\n", false);
                continue;
            }
            // The copy took the kept file's bits and times; the owner, and bits
            // changed before the file was kept, come from the journal.
            if ((ec = platform::SetEntryFacts(step.place, step.file->before, true))) {
                note("'" + EscapeLogPath(step.place.path) +
                         "' was restored but not its bits or times: " + ec.message() + ".\n",
                     true);
            }
            ++result.restored;
            note("restored '" + EscapeLogPath(step.place.path) + "'\n", false);
        }
        if ((ec = transaction.SyncNames()))
            note("The restored files' names may not be on the disk: " + ec.message() + ".\n", true);
    }
    // The deepest first: a folder the run made in another it made. Each
    // reached afresh: a folder held open cannot be removed on Windows.
    for (auto folder = run->folders.rbegin(); folder != run->folders.rend(); ++folder) {
        platform::FolderTree tree;
        std::ignore = tree.ConfineTo(run->roots);
        const platform::Resolution reached = tree.Resolve(*folder, platform::LastLink::keep);
        if (!reached.place || reached.place->kind != platform::EntryKind::folder) continue;
        if ((ec = platform::RemoveEmptyFolder(*reached.place)) && ec != std::errc::no_such_file_or_directory) {
            note("The folder '" + EscapeLogPath(*folder) + "' was left: " +
                     (ec == std::errc::directory_not_empty ? std::string("it is not empty") : ec.message()) + ".\n",
                 ec != std::errc::directory_not_empty);
        } else if (!ec) {
            ++result.folders;
        }
    }
    for (const runjournal::Append& append : run->appends) {
        platform::AppendCut outcome = platform::AppendCut::notTail;
        if ((ec =
                 platform::CutAppendBack(append.path, append.oldLength, append.newLength, append.checksums, outcome))) {
            note("The lines the run added to '" + EscapeLogPath(append.path) +
                     "' could not be taken off: " + ec.message() + ".\n",
                 true);
        } else if (outcome == platform::AppendCut::cut) {
            ++result.appendsCut;
            note("took the run's lines off '" + EscapeLogPath(append.path) + "'\n", false);
        } else if (outcome == platform::AppendCut::notTail) {
            // Lines of another run may follow: they are never cut.
            result.refused.push_back(append.path);
            note(
                "'" + EscapeLogPath(append.path) + "' was changed since the run; the lines it added were left in it.\n",
                false);
        }
    }
    if (result.Whole()) {
        platform::RecordJournal journal;
        if (!journal.Open(*recordFolder, kRunJournalName)) {
            std::ignore = journal.Append(runjournal::UndoneLine(run->date));
            std::ignore = journal.Sync();
        }
    }
    return result;
}

bool TakeBackRun(UserInterface& ui, const platform::Clock& clock, const std::string& installFolder,
                 const std::string& id, bool force, bool ask, UndoResult* out) {
    const std::vector<KeptRun> runs = ListKeptRuns(installFolder);
    const auto wanted = std::find_if(runs.begin(), runs.end(), [&id](const KeptRun& run) { return run.id == id; });
    if (ask && !runs.empty() && (id.empty() || wanted != runs.end())) {
        const KeptRun& run = id.empty() ? runs.back() : *wanted;
        if (!ui.AskYesNo("Take back the run of " + run.date + " over '" + platform::DisplayPath(run.folder) + "' (" +
                             std::to_string(run.files) + (run.files == 1 ? " file" : " files") +
                             ")? The files it changed get their old content back, and the files and folders it "
                             "created are removed.",
                         kCaption)) {
            return false;
        }
    }
    std::optional<KeptRun> known = id.empty() ? (runs.empty() ? std::nullopt : std::optional(runs.back()))
                                              : (wanted == runs.end() ? std::nullopt : std::optional(*wanted));
    if (known) ui.SetProgressTotal(known->files);
    UndoResult result = UndoRun(installFolder, id, force, [&ui](int done, const std::string& path) {
        std::ignore = ui.ReportProgress(done, path);  // a half-taken-back run helps nobody: no Stop here
    });
    if (known) ui.EndProgress();
    if (!result.run) {
        ui.ShowMessage(result.problem, kCaption, MessageStyle::Stop);
        if (out) *out = std::move(result);
        return false;
    }
    const KeptRun& run = *result.run;
    std::string body;
    for (const std::string& line : result.notes) body += line;
    std::string logProblem;
    const bool logged = AppendPatchLogSection(
        installFolder + "/nb_logfile.txt",
        "The run of " + run.date + " over '" + EscapeLogPath(run.folder) + "' was taken back (restored) ",
        clock.LocalNow(), body, logProblem);
    std::string text = "The run of " + run.date + " over '" + platform::DisplayPath(run.folder) +
                       "' was taken back: " + Plural(result.restored, "file", "files") + " restored, " +
                       std::to_string(result.removed) + " deleted, " + Plural(result.folders, "folder", "folders") +
                       " removed.";
    if (!result.refused.empty()) {
        text += " " + Plural(static_cast<int>(result.refused.size()), "file", "files") + " changed since the run " +
                (result.refused.size() == 1 ? "was" : "were") + " left as " +
                (result.refused.size() == 1 ? "it is" : "they are") + " (--force restores them).";
    }
    if (result.failures > 0) text += " " + std::to_string(result.failures) + " could not be restored.";
    text += logged ? " The patch log names each file." : " " + logProblem;
    ui.ShowMessage(text, kCaption, result.Whole() && logged ? MessageStyle::Plain : MessageStyle::Stop);
    const bool whole = result.Whole() && logged;
    if (out) *out = std::move(result);
    return whole;
}

void QuarvelRun::KeepUndoRecord(const std::string& job, const std::string& folder, std::vector<std::string> roots) {
    // A preview keeps nothing, and touches no earlier record.
    if (m_settings.keepUndoRuns <= 0 || m_previewing) return;
    RunRecord::CloseCutShortRecords(InstallFolder());
    for (std::string& root : roots) root = platform::AbsolutePath(root);
    m_undoRecord = std::make_unique<RunRecord>(InstallFolder(), m_clock.LocalNow(), job, platform::AbsolutePath(folder),
                                               std::move(roots), m_settings.keepUndoRuns);
    m_files.KeepRecordIn(m_undoRecord.get());
}

void QuarvelRun::FinishUndoRecord() {
    if (!m_undoRecord) return;
    m_undoRecord->Finish();
    for (const std::string& note : m_undoRecord->TakeNotes()) m_report.updatedList += note;
}

RunOutcome QuarvelRun::UndoLastRun() {
    std::ignore = TakeBackRun(m_ui, m_clock, InstallFolder(), {}, false, true);
    return RunOutcome::Ran;
}
