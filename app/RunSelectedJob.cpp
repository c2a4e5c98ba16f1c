#include <ctime>
#include <tuple>

#include "app/PerUserInstall.h"
#include "app/QuarvelRun.h"
#include "bundle/CountBundles.h"
#include "bundle/SettingsFile.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

RunOutcome QuarvelRun::RunSelectedJob() {
    // Without an install folder every path would start at the file-system
    // root: refuse to start rather than write there.
    const InstallFolderLookup found = m_store.LookUpInstallFolder();
    if (found.Unreadable()) {
        // Not "not set": the store is there and may well hold the folder; it just cannot be read.
        m_ui.ShowMessage(m_store.UnreadableMessage(found.readError), "Quarvel", MessageStyle::Stop);
        return RunOutcome::NotStarted;
    }
    m_installFolder = found.folder;
    if (GetInstallFolder().empty()) {
        m_ui.ShowMessage("The install folder is not set. " + m_store.SettingHint() +
                             ", FOLDER being the folder that holds the template folder 'web'.",
                         "Quarvel", MessageStyle::Stop);
        return RunOutcome::NotStarted;
    }
    // A wrong or unmounted install folder would half-patch every course: no
    // course page, no assets, manifests dated 00000000.
    const std::string& install = GetInstallFolder();
    if (!platform::IsDirectory(install)) {
        m_ui.ShowMessage("The install folder '" + platform::DisplayPath(install) +
                             "' does not exist or is not a folder. Set 'NB Path' in '" +
                             platform::DisplayPath(m_store.Path()) +
                             "' to the folder that holds the template folder 'web'.",
                         "Quarvel", MessageStyle::Stop);
        return RunOutcome::NotStarted;
    }
    // A shared installation the user cannot write would lose the patch log,
    // the catalogues and the VOD packages: offer a folder of the user's own,
    // and go on with it as later runs will.
    if (const auto offer = PerUserInstallOfferFor(install);
        offer && MakePerUserInstallIfAccepted(m_ui, *offer, m_store)) {
        m_store = InstallStore(offer->perUserStore);
        m_installFolder = offer->perUserFolder;  // `install` names it from here on
    }
    const std::optional<CourseSettings> chosen = m_ui.ChooseSettings();
    if (!chosen) return RunOutcome::Ran;
    settings = *chosen;
    // The main job and the VOD job build from the template folder; the
    // spreadsheet job needs only the catalogues.
    const bool spreadsheetJob = !settings.createVodPackages && settings.updateFromSpreadsheet;
    if (!spreadsheetJob && !platform::IsDirectory(install + "/web")) {
        m_ui.ShowMessage("The install folder '" + platform::DisplayPath(install) +
                             "' holds no template folder 'web'. Set 'NB Path' in '" +
                             platform::DisplayPath(m_store.Path()) + "' to the folder that holds it.",
                         "Quarvel", MessageStyle::Stop);
        return RunOutcome::NotStarted;
    }
    if (settings.createVodPackages) {
        RunVodJob();
    } else if (settings.updateFromSpreadsheet) {
        RunSpreadsheetJob();
    } else {
        RunMainJob();
    }
    return RunOutcome::Ran;
}

void QuarvelRun::RunVodJob() {
    const auto folder = m_ui.ChooseFolder("Browse to the Starting VOD content folder:", "");
    if (!folder || !platform::FindFirst(*folder)) return;
    m_ui.SetProgressTotal(CountVodVideos(*folder));
    BuildVodPackages(*folder, false);
    // The bundles are on the disk before the person is told the job is done.
    m_files.Finish();
    WriteUploadPackages();
    m_ui.EndProgress();
    m_ui.ShowMessage("VOD packages created in 'VOD packages' subfolder.", "VOD Status", MessageStyle::Stop);
    // What could not be done as asked (or was left alone) must be written
    // somewhere the person can find it; a clean run leaves the log as it was.
    if (!report.updatedList.empty()) AppendPatchLog("These VOD packages were built with notes ", "VOD Status");
}

void QuarvelRun::RunSpreadsheetJob() {
    const SpreadsheetResult result = ConvertSpreadsheet();
    if (result.updated) {
        m_ui.ShowMessage("'HTML course descriptions.txt' and 'VOD info.txt updated'", "Files updated",
                         MessageStyle::Plain);
    } else {
        ++report.problemNotes;
        m_ui.ShowMessage(result.problem, "Files not updated", MessageStyle::Stop);
    }
}

void QuarvelRun::RunMainJob() {
    const auto folder = m_ui.ChooseFolder("Browse to the Starting course folder:",
                                          "Reminder:    BACK UP ALL COURSE FILES before proceeding");
    if (!folder || !platform::FindFirst(*folder)) return;
    if (settings.updateDescriptionsFromHtml) LoadDescriptionCatalogue();
    if (platform::Contains(*folder, "vod packages")) PrepareVodPackageFolders(*folder);
    m_ui.SetProgressTotal(CountCourseBundles(*folder));
    WalkCourseFolder(*folder);
    // The bundles are on the disk before the person is told the job is done.
    m_files.Finish();
    WriteUploadPackages();
    m_ui.EndProgress();
    m_ui.ShowMessage("Check '" + platform::DisplayPath(PatchLogPath()) + "' for course bundle error status.",
                     "Course Bundle Patch Status", MessageStyle::Stop);
    AppendPatchLog("The following course bundles were updated ", "Course Bundle Patch Status");
}

void QuarvelRun::PrepareVodPackageFolders(const std::string& startFolder) {
    m_files.ConfineTo({startFolder}, "the starting folder");
    for (const platform::DirEntry& entry : platform::FindEntries(startFolder, "*.*")) {
        if (!entry.isDirectory) continue;
        const std::string packageFolder = platform::JoinPath(startFolder, entry.name);
        const std::string xmlFolder = packageFolder + "/xml";
        const std::string settingsFile = xmlFolder + "/interface.xml";
        // Only a folder without the file gets one: a file that merely cannot
        // be read holds the course's settings and is left alone.
        if (m_files.Exists(settingsFile)) continue;
        std::ignore = m_files.EnsureFolder(xmlFolder);
        std::ignore = m_files.Write(settingsFile, MinimalInterfaceFile(false));
    }
    m_files.Commit();
}

void QuarvelRun::AppendPatchLog(std::string_view heading, std::string_view caption) {
    const std::tm now = m_clock.LocalNow();
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%m/%d/%Y %H:%M", &now);
    const std::string section = "\n\n" + std::string(heading) + stamp + ":\n" + report.updatedList;
    const std::string logPath = PatchLogPath();
    if (const std::error_code ec = platform::AppendUtf16LeText(logPath, section)) {
        m_ui.ShowMessage("The patch log '" + platform::DisplayPath(logPath) +
                             "' could not be opened or created: " + ec.message() + ".",
                         std::string(caption), MessageStyle::Stop);
    }
}
