#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/InstallStore.h"
#include "app/UserInterface.h"
#include "bundle/CourseRecord.h"
#include "bundle/WalkCourseFolder.h"
#include "catalogues/Catalogues.h"
#include "catalogues/ConvertSpreadsheet.h"
#include "platform/Clock.h"
#include "platform/Process.h"
#include "settings/CourseSettings.h"
#include "writers/BundleFiles.h"
#include "writers/Installation.h"
#include "writers/RunReport.h"
#include "writers/SchemaCheck.h"
#include "writers/UploadPackage.h"

// What a run did, for a front end's closing words and exit status.
struct RunSummary {
    int bundlesPatched = 0;  // course bundles patched, or VOD packages built
    // Course bundles (or packages) refused or left with a file that could not be
    // written, copied or deleted: each has a note in the patch log.
    int bundlesWithProblems = 0;
    int problemNotes = 0;  // every note in the run report that says something was not done
    bool stopped = false;  // the person stopped the run between bundles
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

    // --- The run driver ---
    RunOutcome RunSelectedJob();
    // The install folder without a trailing "/"; read from the store once per run.
    const std::string& GetInstallFolder();
    std::string PatchLogPath();
    RunSummary Summary() const;

    // --- The jobs and writers, on the run's state; their files are in place
    // when they return (durable once the job ends) ---
    // Gives each direct subfolder of a "vod packages" starting folder that has
    // no xml/interface.xml the minimal one.
    void PrepareVodPackageFolders(const std::string& startFolder);
    void WalkCourseFolder(const std::string& folder);
    void BuildVodPackages(const std::string& folder, bool copyVideo);
    void WriteScormManifest(const std::string& path);
    void WriteCoursePage(const std::string& path);
    void WriteIndexPage(const std::string& path);
    void WriteTincanXml(const std::string& path);
    void PatchExitStatus(const std::string& scriptsFolder);
    // Copies the player assets into the bundle; returns the content folder.
    std::string RefreshAssets(const std::string& courseFolder);

    // --- The catalogues ---
    void LoadDescriptionCatalogue();
    std::optional<std::string> FindCourseDescription(const std::string& key) const;
    void LoadVodCatalogue();
    const VodInfoEntry* FindVodInfo(const std::string& title) const;
    SpreadsheetResult ConvertSpreadsheet();

    // The run's state.
    CourseSettings settings;
    CourseRecord record;
    RunReport report;
    DescriptionCatalogue descriptionCatalogue;
    VodCatalogue vodCatalogue;

    BundleFiles& files() { return m_files; }
    Installation& installation();

private:
    void RunVodJob();
    void RunSpreadsheetJob();
    void RunMainJob();
    // Appends a dated section: `heading`, the date stamp, ":" and the run report.
    void AppendPatchLog(std::string_view heading, std::string_view caption);

    // WalkListener: what the jobs tell the run between bundles.
    void CourseError(const std::string& note) override;
    bool BundleDone(const std::string& courseFolder) override;
    void PackageFileGenerated(const std::string& path, PackageFile file) override;
    MainJobContext MainJob();
    // Zips the bundles the job patched (zipPackages) from the files on disk,
    // after the job's files are in place.
    void WriteUploadPackages();

    UserInterface& m_ui;
    const platform::Clock& m_clock;
    InstallStore m_store;
    std::optional<std::string> m_installFolder;
    std::optional<Installation> m_installation;
    BundleFiles m_files{report, platform::CommitBytesFromEnvironment(platform::FileTransaction::kDefaultCommitBytes)};

    int m_bundlesPatched = 0;
    int m_bundlesWithProblems = 0;
    bool m_stopped = false;
    // The problem notes counted when the bundle in hand began, to tell whether it got one.
    int m_notesAtBundleStart = 0;

    // Lower-cased key -> index of the first entry with that key.
    std::unordered_map<std::string, std::size_t> m_descriptionIndex;
    std::unordered_map<std::string, std::size_t> m_vodIndex;
    // "VOD info.txt" as last parsed; a reload of an unchanged file keeps the table.
    std::optional<platform::FileStamp> m_vodCatalogueStamp;

    // Upload packages: the bundles to zip, the folder their names are taken
    // below, and the folders a link in a bundle may lead into.
    std::vector<CourseToUpload> m_uploads;
    std::string m_uploadBase;
    std::vector<std::string> m_uploadRoots;
    // The schemas, parsed once for the run (validatePackages).
    std::unique_ptr<SchemaCheck> m_schemaCheck;
    bool m_schemasMissingNoted = false;
};
