#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/InstallStore.h"
#include "app/UploadStage.h"
#include "app/UserInterface.h"
#include "bundle/CourseRecord.h"
#include "bundle/WalkCourseFolder.h"
#include "catalogues/DescriptionLookup.h"
#include "catalogues/VodInfoLookup.h"
#include "platform/Clock.h"
#include "platform/Process.h"
#include "settings/CourseSettings.h"
#include "writers/BundleFiles.h"
#include "writers/Installation.h"
#include "writers/RunReport.h"

class RunRecord;

// What a run did, for a front end's closing words and exit status.
struct RunSummary {
    int bundlesPatched = 0;  // course bundles patched, or VOD packages built
    // Course bundles (or packages) refused or left with a file that could not be
    // written, copied or deleted: each has a note in the patch log.
    int bundlesWithProblems = 0;
    int problemNotes = 0;  // every note in the run report that says something was not done
    // Problem notes that belong to no bundle (the run's changes not made
    // durable, an upload package not written).
    int otherProblems = 0;
    bool stopped = false;       // the person stopped the run between bundles
    std::string installFolder;  // the install folder the run used; empty before it is known
    std::string patchLog;       // the patch log in it
    // Why the patch log section could not be written; empty when it was, or was not due.
    std::string patchLogProblem;
    // Why the run could not start (RunOutcome::NotStarted), as its message box says.
    std::string whyNotStarted;
    // What the run changed, or (previewing) would change, one line each:
    // "create PATH", "replace PATH", "touch PATH", "delete PATH", "mkdir PATH"
    // or "append PATH"; and how many of them are files (all but mkdir).
    std::vector<std::string> changes;
    int filesChanged = 0;
    // The notes of what was (or would be) refused or not done, as the patch log has them.
    std::vector<std::string> problems;
};

// Why this build cannot run with `settings`: an option that needs a writer
// the build was made without (see OptionalWriters.h), named as the settings
// name it; empty when the run can go ahead. A front end shows it as a
// message box captioned "Quarvel" and starts no run.
std::string RefusedOptionMessage(const CourseSettings& settings);

enum class RunOutcome {
    Ran,         // the run went its way (cancelled, or a job ran)
    NotStarted,  // the installation is not usable: nothing was asked or written
};

// One run of the program: it owns, for the whole run, the options, the course
// record of the bundle in hand, the run report and the catalogues, and hands
// them to the jobs and writers (bundle/, writers/, vod/, catalogues/) as
// parameters. Links no GUI code; reaches the person only through UserInterface.
class QuarvelRun final : private WalkListener {
public:
    QuarvelRun(UserInterface& ui, const platform::Clock& clock, InstallStore store);
    ~QuarvelRun() override;
    QuarvelRun(const QuarvelRun&) = delete;
    QuarvelRun& operator=(const QuarvelRun&) = delete;

    // Empties the run report, as the main window does before the run.
    void EmptyRunReport() { m_report.updatedList.clear(); }
    // Also stops the job after the bundle in hand, as the progress window's
    // Stop does, once `asked` answers true (a signal to the batch program).
    void StopWhen(std::function<bool()> asked) { m_stopAsked = std::move(asked); }
    // Makes the run a preview: it goes its whole way, and writes nothing
    // (no bundle file, patch log, catalogue, store or upload package); the
    // summary lists what it would change.
    void PreviewOnly();
    RunOutcome RunSelectedJob();
    RunSummary Summary() const;

private:
    // The install folder without a trailing "/"; read from the store once per run.
    const std::string& InstallFolder();
    std::string PatchLogPath();
    Installation& TheInstallation();

    void RunVodJob();
    void RunSpreadsheetJob();
    void RunMainJob();
    // The walk over the starting folder, and the VOD builder over the content
    // folder, each confined to the folders it may change.
    void PatchCourseBundles(const std::string& startFolder);
    void BuildPackagesFrom(const std::string& contentFolder);
    // Tells the person why the run cannot start.
    RunOutcome CannotStart(const std::string& why);
    // Appends a dated section: `heading`, the date stamp, ":" and the run
    // report; false, with the reason kept for the summary, when it cannot.
    bool AppendPatchLog(std::string_view heading);
    // Counts the problem notes added since the last call for the bundles done
    // before whose folders hold the paths they name; returns how many are left
    // over, for the bundle in hand (`inHand`, or the refused one) or the run.
    int SettleProblems(const std::string* inHand);
    // Puts the job's files in place and zips the upload packages; what is
    // found then and claimed by no bundle is the run's.
    void FinishJob();

    // WalkListener: what the jobs tell the run between bundles.
    void CourseError(const std::string& note) override;
    bool BundleDone(const std::string& courseFolder) override;
    void PackageFileGenerated(const std::string& path, PackageFile file) override;
    // The undo record of the job (UndoRun.cpp): kept from here on, unless
    // keepUndoRuns is 0, of the files below `roots`; finished once the job's
    // files are in place, its notes going to the run report.
    void KeepUndoRecord(const std::string& job, const std::string& folder, std::vector<std::string> roots);
    void FinishUndoRecord();
    // "Undo last run…" in the settings dialog.
    RunOutcome UndoLastRun();

    UserInterface& m_ui;
    const platform::Clock& m_clock;
    InstallStore m_store;
    std::optional<std::string> m_installFolder;
    std::optional<Installation> m_installation;

    // The run's state.
    CourseSettings m_settings;
    CourseRecord m_record;
    RunReport m_report;
    DescriptionLookup m_descriptions;
    VodInfoLookup m_vodInfo;
    BundleFiles m_files{m_report, platform::CommitBytesFromEnvironment(platform::FileTransaction::kDefaultCommitBytes)};

    std::function<bool()> m_stopAsked;
    bool m_previewing = false;
    std::vector<std::string> m_appended;  // the files the run appended to (or would)
    int m_bundlesPatched = 0;
    int m_bundlesWithProblems = 0;
    int m_otherProblems = 0;
    bool m_stopped = false;
    std::string m_patchLogProblem;
    std::string m_whyNotStarted;
    // The problem notes already counted for a bundle (or the run).
    int m_notesSettled = 0;
    // Bundles done whose files may still wait for a commit, where a problem
    // can yet be found, each with whether it counts with problems already; and
    // the commits counted when the bundle in hand began (one since then put
    // every earlier bundle in place).
    std::map<std::string, bool> m_uncommitted;
    int m_commitsAtBundleStart = 0;

    // The upload packages and their check.
    UploadStage m_upload{m_settings, m_report, m_files};
    std::unique_ptr<RunRecord> m_undoRecord;
};
