#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "app/InstallStore.h"
#include "app/UserInterface.h"
#include "bundle/CourseRecord.h"
#include "catalogues/Catalogues.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "settings/CourseSettings.h"
#include "writers/TemplateRule.h"

// What a run did, for a front end's closing words and exit status.
struct RunSummary {
    int bundlesPatched = 0;  // course bundles patched, or VOD packages built
    // Course bundles (or packages) refused or left with a file that could not be
    // written, copied or deleted: each has a note in the patch log.
    int bundlesWithProblems = 0;
    int problemNotes = 0;  // every note in the run report that says something was not done
    bool stopped = false;  // the person stopped the run between bundles
};

enum class RunOutcome {
    Ran,         // the run went its way (cancelled, or a job ran)
    NotStarted,  // the installation is not usable: nothing was asked or written
};

// What the spreadsheet job did, for the closing message.
struct SpreadsheetResult {
    bool updated = false;
    std::string problem;  // why nothing was appended, when not updated
};

// One run of the program: the options, the bundle in hand, the run report and
// the catalogues, with every job and writer that works on them. Links no GUI
// code; reaches the person only through UserInterface.
class QuarvelRun {
public:
    QuarvelRun(UserInterface& ui, const platform::Clock& clock, InstallStore store);
    ~QuarvelRun();
    QuarvelRun(const QuarvelRun&) = delete;
    QuarvelRun& operator=(const QuarvelRun&) = delete;

    // --- Run driver ---
    RunOutcome RunSelectedJob();
    // The install folder without a trailing "/"; read from the store once per run.
    const std::string& GetInstallFolder();
    std::string PatchLogPath();
    const RunSummary& Summary() const { return m_summary; }
    // Gives each direct subfolder of a "vod packages" starting folder that has
    // no xml/interface.xml the minimal one.
    void PrepareVodPackageFolders(const std::string& startFolder);

    // --- Course bundle patcher ---
    void WalkCourseFolder(const std::string& folder);
    void RewriteInterfaceXml(const std::string& header, const std::vector<std::string>& lines, const std::string& path);
    // Copies the player assets into the bundle; returns the content folder.
    std::string RefreshAssets(const std::string& courseFolder);

    // --- Package file writers ---
    void WriteScormManifest(const std::string& path);
    void WriteCoursePage(const std::string& path);
    void WriteIndexPage(const std::string& path);
    void WriteTincanXml(const std::string& path);
    void PatchExitStatus(const std::string& scriptsFolder);
    void CopyTemplate(const std::string& templatePath, const std::string& outputPath,
                      const std::vector<TemplateRule>& rules, ReadOnly clearReadOnly);

    // --- VOD packager ---
    void BuildVodPackages(const std::string& folder, bool copyVideo);

    // --- Description catalogues ---
    void LoadDescriptionCatalogue();
    std::optional<std::string> FindCourseDescription(const std::string& key) const;
    void LoadVodCatalogue();
    const VodInfoEntry* FindVodInfo(const std::string& title) const;
    SpreadsheetResult ConvertSpreadsheet();

    // --- Writing bundle files: one place that writes, copies and deletes and
    // notes every failure in the run report ---
    // Replaces `path` with `bytes`; a failure is noted.
    bool WriteBundleFile(const std::string& path, std::string_view bytes);
    // The overwriting copy; a failure is noted unless the source is missing.
    bool CopyBundleFile(const std::string& source, const std::string& destination);
    // Deletes a file; a missing file is no failure; other failures are noted.
    bool DeleteBundleFile(const std::string& path);
    // Creates the folder when a find-first query does not find it.
    bool EnsureFolder(const std::string& path);
    void NoteFileFailure(const std::string& action, const std::string& path, std::error_code ec);

    // The run's state, as the jobs and writers read and change it.
    CourseSettings settings;
    CourseRecord record;
    std::string updatedList;  // the run report
    DescriptionCatalogue descriptionCatalogue;
    VodCatalogue vodCatalogue;

    UserInterface& ui() { return m_ui; }
    const platform::Clock& clock() const { return m_clock; }
    const InstallStore& store() const { return m_store; }

private:
    void RunVodJob();
    void RunSpreadsheetJob();
    void RunMainJob();
    void AppendPatchLog();

    // Patches the bundle whose settings file xmlFolder/interface.xml holds
    // `settingsBytes`; true when the walk goes on into the xml folder.
    bool PatchBundle(const std::string& xmlFolder, std::string_view settingsBytes);
    void PackageVideo(const std::string& sourceFolder, const std::string& fileName, bool copyVideo);

    UserInterface& m_ui;
    const platform::Clock& m_clock;
    InstallStore m_store;
    std::optional<std::string> m_installFolder;

    // Folders the walk has entered, so that links never lead round in a circle.
    std::set<platform::FolderIdentity> m_enteredFolders;
    RunSummary m_summary;
    // The problem notes counted when the bundle in hand began, to tell whether it got one.
    int m_notesAtBundleStart = 0;
    // Counts the bundle just done, tells the front end, and says whether the job goes on.
    bool BundleDone(const std::string& folder);

    // Lower-cased key -> index of the first entry with that key.
    std::unordered_map<std::string, std::size_t> m_descriptionIndex;
    std::unordered_map<std::string, std::size_t> m_vodIndex;
    // "VOD info.txt" as last parsed; a reload of an unchanged file keeps the table.
    std::optional<std::string> m_vodCatalogueBytes;

    // The host of the xAPI activity identifiers, read from the store once.
    std::optional<std::string> m_xapiHost;

    // Templates read once per run and reused while their file is unchanged.
    struct TemplateCache;
    std::unique_ptr<TemplateCache> m_templateCache;
};

// The isHRS line of a settings file, with its line end: true or false.
std::string IsHrsLine(bool isHrs);
// The five-line settings file of a package around its isHRS line (given with
// its line end), as a UTF-8 text stream writes it: byte-order mark, CR LF.
std::string FiveLineInterfaceFile(std::string_view isHrsLine);
// The five-line file given to package folders that lack one.
std::string MinimalInterfaceFile(bool isHrs);
