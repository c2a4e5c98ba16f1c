#include "app/PatchLog.h"
#include "app/PerUserInstall.h"
#include "app/PrepareVodPackageFolders.h"
#include "app/QuarvelRun.h"
#include "bundle/CountBundles.h"
#include "catalogues/ConvertSpreadsheet.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "writers/Escape.h"

RunOutcome QuarvelRun::RunSelectedJob() {
    // Without an install folder every path would start at the file-system
    // root: refuse to start rather than write there.
    const InstallFolderLookup found = m_store.LookUpInstallFolder();
    if (found.Unreadable()) {
        // Not "not set": the store is there and may well hold the folder; it just cannot be read.
        return CannotStart(m_store.UnreadableMessage(found.readError));
    }
    m_installFolder = found.folder;
    if (InstallFolder().empty()) {
        return CannotStart("The install folder is not set. " + m_store.SettingHint() +
                           ", FOLDER being the folder that holds the template folder 'web'.");
    }
    // A wrong or unmounted install folder would half-patch every course: no
    // course page, no assets, manifests dated 00000000.
    const std::string& install = InstallFolder();
    if (!platform::IsDirectory(install)) {
        return CannotStart("The install folder '" + platform::DisplayPath(install) +
                           "' does not exist or is not a folder. Set 'NB Path' in '" +
                           platform::DisplayPath(m_store.Path()) +
                           "' to the folder that holds the template folder 'web'.");
    }
    // A shared installation the user cannot write would lose the patch log,
    // the catalogues and the VOD packages: offer a folder of the user's own,
    // and go on with it as later runs will.
    // A preview makes no install folder.
    if (const auto offer = m_previewing ? std::nullopt : PerUserInstallOfferFor(install);
        offer && MakePerUserInstallIfAccepted(m_ui, *offer, m_store)) {
        m_store = PerUserStoreOf(*offer);
        m_installFolder = offer->perUserFolder;  // `install` names it from here on
    }
    const std::optional<CourseSettings> chosen = m_ui.ChooseSettings();
    if (!chosen) return m_ui.UndoLastRunChosen() ? UndoLastRun() : RunOutcome::Ran;
    m_settings = *chosen;
    // The main job and the VOD job build from the template folder; the
    // spreadsheet job needs only the catalogues.
    const bool spreadsheetJob = !m_settings.createVodPackages && m_settings.updateFromSpreadsheet;
    if (!spreadsheetJob && !platform::IsDirectory(install + "/web")) {
        return CannotStart("The install folder '" + platform::DisplayPath(install) +
                           "' holds no template folder 'web'. Set 'NB Path' in '" +
                           platform::DisplayPath(m_store.Path()) + "' to the folder that holds it.");
    }
    if (m_settings.createVodPackages) {
        RunVodJob();
    } else if (m_settings.updateFromSpreadsheet) {
        RunSpreadsheetJob();
    } else {
        RunMainJob();
    }
    return RunOutcome::Ran;
}

void QuarvelRun::RunVodJob() {
    const auto folder = m_ui.ChooseFolder("Browse to the Starting VOD content folder:", "");
    if (!folder || !platform::FindFirst(*folder)) return;
    KeepUndoRecord("vod", *folder, {*folder, InstallFolder() + "/vod packages"});
    m_ui.SetProgressTotal(CountVodVideos(*folder));
    BuildPackagesFrom(*folder);
    FinishJob();
    FinishUndoRecord();
    m_ui.EndProgress();
    // What could not be done as asked (or was left alone) must be written
    // somewhere the person can find it; a clean run leaves the log as it was.
    const bool logged = m_report.updatedList.empty() || AppendPatchLog("These VOD packages were built with notes ");
    m_ui.ShowMessage("VOD packages created in 'VOD packages' subfolder.", "VOD Status", MessageStyle::Stop);
    if (!logged) m_ui.ShowMessage(m_patchLogProblem, "VOD Status", MessageStyle::Stop);
}

void QuarvelRun::RunSpreadsheetJob() {
    const SpreadsheetResult result =
        m_previewing ? PreviewSpreadsheet(InstallFolder()) : ConvertSpreadsheet(InstallFolder());
    if (result.updated) {
        m_appended.push_back(InstallFolder() + "/HTML course descriptions.txt");
        m_appended.push_back(InstallFolder() + "/VOD info.txt");
        m_ui.ShowMessage("'HTML course descriptions.txt' and 'VOD info.txt updated'", "Files updated",
                         MessageStyle::Plain);
    } else {
        ++m_report.problemNotes;
        m_ui.ShowMessage(result.problem, "Files not updated", MessageStyle::Stop);
    }
}

void QuarvelRun::RunMainJob() {
    const auto folder = m_ui.ChooseFolder("Browse to the Starting course folder:",
                                          "Reminder:    BACK UP ALL COURSE FILES before proceeding");
    if (!folder || !platform::FindFirst(*folder)) return;
    if (m_settings.updateDescriptionsFromHtml) m_descriptions.LoadDescriptionCatalogue(InstallFolder());
    KeepUndoRecord("main", *folder, {*folder, InstallFolder() + "/upload packages"});
    if (platform::Contains(*folder, "vod packages")) {
        m_files.ConfineTo({*folder}, "the starting folder");
        PrepareVodPackageFolders(m_files, *folder);
        m_files.Commit();
    }
    m_ui.SetProgressTotal(CountCourseBundles(*folder));
    PatchCourseBundles(*folder);
    FinishJob();
    FinishUndoRecord();
    m_ui.EndProgress();
    // The record is on the disk before the person is told where it is: its
    // stamp is the job's end, and a box left open loses nothing. A log that
    // could not be written is named instead of being pointed at.
    if (AppendPatchLog("The following course bundles were updated ")) {
        m_ui.ShowMessage("Check '" + platform::DisplayPath(PatchLogPath()) + "' for course bundle error status.",
                         "Course Bundle Patch Status", MessageStyle::Stop);
    } else {
        m_ui.ShowMessage(m_patchLogProblem, "Course Bundle Patch Status", MessageStyle::Stop);
    }
}

void QuarvelRun::FinishJob() {
    // The bundles are on the disk before the person is told the job is done.
    m_files.Finish();
    m_upload.Finish();
    m_otherProblems += SettleProblems(nullptr);
}

RunOutcome QuarvelRun::CannotStart(const std::string& why) {
    m_whyNotStarted = why;
    m_ui.ShowMessage(why, "Quarvel", MessageStyle::Stop);
    return RunOutcome::NotStarted;
}

bool QuarvelRun::AppendPatchLog(std::string_view heading) {
    const std::string logPath = PatchLogPath();
    if (m_previewing) {
        m_appended.push_back(logPath);
        return true;
    }
    if (!AppendPatchLogSection(logPath, heading, m_clock.LocalNow(), m_report.updatedList, m_patchLogProblem)) {
        return false;
    }
    m_appended.push_back(logPath);
    return true;
}
