#include "app/QuarvelRun.h"

#include <tuple>

#include "app/RunRecord.h"
#include "platform/Text.h"
#include "vod/BuildVodPackages.h"
#include "writers/Escape.h"
#include "writers/OptionalWriters.h"
#include "writers/TincanXml.h"

std::string RefusedOptionMessage(const CourseSettings& settings) {
    const auto refused = [](std::string_view option, std::string_view what) {
        return "The option '" + std::string(option) +
               "' is not available in this build of Quarvel: it was built without " + std::string(what) +
               ". Clear the option and run again.";
    };
    if (settings.zipPackages && !HasUploadPackages()) return refused("zipPackages", "zip support");
    if (settings.validatePackages && !HasSchemaCheck()) return refused("validatePackages", "the schema check");
    return {};
}

QuarvelRun::QuarvelRun(UserInterface& ui, const platform::Clock& clock, InstallStore store)
    : m_ui(ui), m_clock(clock), m_store(std::move(store)) {}

QuarvelRun::~QuarvelRun() = default;

const std::string& QuarvelRun::InstallFolder() {
    if (!m_installFolder) m_installFolder = m_store.GetInstallFolder();
    return *m_installFolder;
}

std::string QuarvelRun::PatchLogPath() {
    return InstallFolder() + "/nb_logfile.txt";
}

void QuarvelRun::PreviewOnly() {
    m_previewing = true;
    m_files.PreviewOnly();
}

RunSummary QuarvelRun::Summary() const {
    RunSummary summary;
    summary.bundlesPatched = m_bundlesPatched;
    summary.bundlesWithProblems = m_bundlesWithProblems;
    summary.problemNotes = m_report.problemNotes;
    summary.otherProblems = m_otherProblems;
    summary.stopped = m_stopped;
    summary.patchLogProblem = m_patchLogProblem;
    summary.whyNotStarted = m_whyNotStarted;
    for (const BundleFiles::Change& change : m_files.Changes()) {
        static constexpr const char* kVerbs[] = {"create", "replace", "touch", "delete", "mkdir"};
        summary.changes.push_back(std::string(kVerbs[static_cast<int>(change.kind)]) + " " +
                                  platform::DisplayPath(change.path));
        if (change.kind != BundleFiles::Change::Kind::mkdir) ++summary.filesChanged;
    }
    for (const std::string& path : m_appended) summary.changes.push_back("append " + platform::DisplayPath(path));
    summary.filesChanged += static_cast<int>(m_appended.size());
    summary.problems = m_report.problems;
    if (m_installFolder) {
        summary.installFolder = *m_installFolder;
        summary.patchLog = *m_installFolder + "/nb_logfile.txt";
    }
    return summary;
}

Installation& QuarvelRun::TheInstallation() {
    if (!m_installation) {
        // The host of the xAPI activity identifiers comes from the install store.
        const auto stored = m_store.Read("xAPI Host");
        const std::string_view host = stored ? platform::TrimAsciiSpace(*stored) : std::string_view();
        m_installation.emplace(InstallFolder(), std::string(host.empty() ? kDefaultXapiHost : host));
    }
    return *m_installation;
}

int QuarvelRun::SettleProblems(const std::string* inHand) {
    const int notes = m_report.problemNotes - m_notesSettled;
    m_notesSettled = m_report.problemNotes;
    std::vector<std::string> paths;
    paths.swap(m_report.problemPaths);
    int leftOver = notes - static_cast<int>(paths.size());  // notes that name no path
    for (const std::string& path : paths) {
        // The deepest bundle folder that holds the path: bundles may nest.
        bool claimed = false;
        for (std::string folder = platform::ParentPath(path); !(inHand && folder == *inHand);
             folder = platform::ParentPath(folder)) {
            if (const auto done = m_uncommitted.find(folder); done != m_uncommitted.end()) {
                if (!done->second) ++m_bundlesWithProblems;
                done->second = true;
                claimed = true;
                break;
            }
            if (platform::ParentPath(folder) == folder) break;
        }
        if (!claimed) ++leftOver;
    }
    return leftOver;
}

void QuarvelRun::CourseError(const std::string& note) {
    // The refused bundle's note, and whatever no bundle done before claims.
    std::ignore = SettleProblems(nullptr);
    ++m_bundlesWithProblems;
    m_ui.ShowMessage(note.substr(0, note.size() - 1), "Course Error", MessageStyle::Stop);
}

bool QuarvelRun::BundleDone(const std::string& courseFolder) {
    ++m_bundlesPatched;
    const bool problems = SettleProblems(&courseFolder) > 0;
    if (m_files.Commits() != m_commitsAtBundleStart) m_uncommitted.clear();
    m_commitsAtBundleStart = m_files.Commits();
    if (problems) ++m_bundlesWithProblems;
    m_uncommitted[courseFolder] = problems;
    m_upload.BundleDone(courseFolder, m_record.courseID);
    const bool stopPressed = m_ui.ReportProgress(m_bundlesPatched, courseFolder) == UserInterface::Progress::Stop;
    if (!stopPressed && !(m_stopAsked && m_stopAsked())) return true;
    m_stopped = true;
    m_report.updatedList += "The run was stopped after '" + EscapeLogPath(courseFolder) +
                            "'; the course bundles after it were not patched.\n";
    return false;
}

void QuarvelRun::PackageFileGenerated(const std::string& path, PackageFile file) {
    m_upload.PackageFileGenerated(path, file);
}

void QuarvelRun::PatchCourseBundles(const std::string& startFolder) {
    m_files.ConfineTo({startFolder}, "the starting folder");
    m_upload.Begin(InstallFolder(), startFolder, {startFolder});
    std::function<std::optional<std::string>(const std::string&)> find;
    if (!m_descriptions.Entries().empty()) {
        find = [this](const std::string& key) { return m_descriptions.FindCourseDescription(key); };
    }
    MainJobContext job{m_settings, m_record, m_report, m_files, TheInstallation(), std::move(find), *this};
    WalkCourseFolder(startFolder, job);
    m_files.Commit();
}

void QuarvelRun::BuildPackagesFrom(const std::string& contentFolder) {
    const std::string packages = InstallFolder() + "/vod packages";
    m_files.ConfineTo({contentFolder, packages}, "the content folder");
    m_upload.Begin(InstallFolder(), InstallFolder(), {contentFolder, packages});
    VodJobContext job{m_settings,
                      m_record,
                      m_files,
                      TheInstallation(),
                      [this] { m_vodInfo.LoadVodCatalogue(InstallFolder()); },
                      [this](const std::string& courseID) { return m_vodInfo.FindVodInfo(courseID); },
                      *this};
    BuildVodPackages(contentFolder, false, job);
    m_files.Commit();
}
