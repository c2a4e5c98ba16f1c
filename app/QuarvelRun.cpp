#include "app/QuarvelRun.h"

#include <algorithm>

#include "bundle/RefreshAssets.h"
#include "catalogues/DescriptionCatalogue.h"
#include "catalogues/VodCatalogueParser.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "vod/BuildVodPackages.h"
#include "writers/Escape.h"
#include "writers/ExitStatusPatch.h"
#include "writers/LaunchPages.h"
#include "writers/OptionalWriters.h"
#include "writers/ScormManifest.h"
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

const std::string& QuarvelRun::GetInstallFolder() {
    if (!m_installFolder) m_installFolder = m_store.GetInstallFolder();
    return *m_installFolder;
}

std::string QuarvelRun::PatchLogPath() {
    return GetInstallFolder() + "/nb_logfile.txt";
}

RunSummary QuarvelRun::Summary() const {
    return {m_bundlesPatched, m_bundlesWithProblems, report.problemNotes, m_stopped};
}

Installation& QuarvelRun::installation() {
    if (!m_installation) {
        // The host of the xAPI activity identifiers comes from the install store.
        const auto stored = m_store.Read("xAPI Host");
        const std::string_view host = stored ? platform::TrimAsciiSpace(*stored) : std::string_view();
        m_installation.emplace(GetInstallFolder(), std::string(host.empty() ? kDefaultXapiHost : host));
    }
    return *m_installation;
}

void QuarvelRun::CourseError(const std::string& note) {
    ++m_bundlesWithProblems;
    m_notesAtBundleStart = report.problemNotes;
    m_ui.ShowMessage(note.substr(0, note.size() - 1), "Course Error", MessageStyle::Stop);
}

bool QuarvelRun::BundleDone(const std::string& courseFolder) {
    ++m_bundlesPatched;
    if (report.problemNotes > m_notesAtBundleStart) ++m_bundlesWithProblems;
    m_notesAtBundleStart = report.problemNotes;
    // Two videos of one title build one package folder: it is zipped once.
    if (settings.zipPackages && std::none_of(m_uploads.begin(), m_uploads.end(), [&](const CourseToUpload& upload) {
            return upload.courseFolder == courseFolder;
        })) {
        m_uploads.push_back({courseFolder, UploadPackageName(courseFolder, m_uploadBase), record.courseID});
    }
    if (m_ui.ReportProgress(m_bundlesPatched, courseFolder) == UserInterface::Progress::Continue) return true;
    m_stopped = true;
    report.updatedList += "The run was stopped after '" + EscapeLogPath(courseFolder) +
                          "'; the course bundles after it were not patched.\n";
    return false;
}

void QuarvelRun::PackageFileGenerated(const std::string& path, PackageFile file) {
    if (!settings.validatePackages) return;
    std::error_code ec;
    const std::optional<std::string> bytes = m_files.Read(path, ec);
    if (!bytes) return;  // not written: that is noted already
    const std::string schemas = GetInstallFolder() + "/schemas";
    if (!m_schemaCheck) m_schemaCheck = std::make_unique<SchemaCheck>(schemas);
    const SchemaVerdict verdict = m_schemaCheck->Check(file, *bytes);
    if (verdict.outcome == SchemaVerdict::Outcome::SchemasMissing) {
        if (m_schemasMissingNoted) return;
        m_schemasMissingNoted = true;
        report.AddProblem("The schemas '" +
                          EscapeLogPath(schemas + "/" + std::string(SchemaCheck::SchemaFileOf(file))) +
                          "' are missing or unreadable; the generated files were not checked against them.\n");
    } else if (verdict.outcome == SchemaVerdict::Outcome::Invalid) {
        report.AddProblem("'" + EscapeLogPath(path) + "' does not pass the schema check, line " +
                          std::to_string(verdict.line) + ": " + EscapeLogName(verdict.message) + ".\n");
    }
}

void QuarvelRun::WriteUploadPackages() {
    if (!settings.zipPackages) return;
    ::WriteUploadPackages(m_uploads, {GetInstallFolder() + "/upload packages", m_uploadRoots, settings.deleteBmp},
                          report);
    m_uploads.clear();
}

MainJobContext QuarvelRun::MainJob() {
    std::function<std::optional<std::string>(const std::string&)> find;
    if (!descriptionCatalogue.empty()) find = [this](const std::string& key) { return FindCourseDescription(key); };
    return {settings, record, report, m_files, installation(), std::move(find), *this};
}

void QuarvelRun::WalkCourseFolder(const std::string& folder) {
    m_files.ConfineTo({folder}, "the starting folder");
    m_uploadBase = folder;
    m_uploadRoots = {folder};
    MainJobContext job = MainJob();
    ::WalkCourseFolder(folder, job);
    m_files.Commit();
}

void QuarvelRun::BuildVodPackages(const std::string& folder, bool copyVideo) {
    m_files.ConfineTo({folder, GetInstallFolder() + "/vod packages"}, "the content folder");
    m_uploadBase = GetInstallFolder();
    m_uploadRoots = {folder, GetInstallFolder() + "/vod packages"};
    VodJobContext job{settings,
                      record,
                      m_files,
                      installation(),
                      [this] { LoadVodCatalogue(); },
                      [this](const std::string& courseID) { return FindVodInfo(courseID); },
                      *this};
    ::BuildVodPackages(folder, copyVideo, job);
    m_files.Commit();
}

void QuarvelRun::WriteScormManifest(const std::string& path) {
    ::WriteScormManifest(m_files, path, ManifestFromRecord(record, settings, installation()));
    m_files.Commit();
}

void QuarvelRun::WriteCoursePage(const std::string& path) {
    ::WriteCoursePage(m_files, installation(), path, record.courseID);
    m_files.Commit();
}

void QuarvelRun::WriteIndexPage(const std::string& path) {
    ::WriteIndexPage(m_files, installation(), path, record.courseID);
    m_files.Commit();
}

void QuarvelRun::WriteTincanXml(const std::string& path) {
    // The activity file escapes the description in the record itself.
    record.WebDescription =
        ::WriteTincanXml(m_files, installation(), path, record.courseID, record.WebTitle, record.WebDescription);
    m_files.Commit();
}

void QuarvelRun::PatchExitStatus(const std::string& scriptsFolder) {
    ::PatchExitStatus(m_files, installation(), scriptsFolder, settings.exitStatusMode);
    m_files.Commit();
}

std::string QuarvelRun::RefreshAssets(const std::string& courseFolder) {
    std::string content = ::RefreshAssets(m_files, installation().Web(), courseFolder, record.courseID,
                                          settings.exitStatusMode != ExitStatusMode::ScormConformant);
    m_files.Commit();
    return content;
}

void QuarvelRun::LoadDescriptionCatalogue() {
    descriptionCatalogue.clear();
    if (const auto bytes = platform::ReadFileBytes(GetInstallFolder() + "/HTML course descriptions.txt")) {
        descriptionCatalogue = ParseDescriptionCatalogue(*bytes);
    }
    m_descriptionIndex = IndexFirstEntries(descriptionCatalogue, &DescriptionEntry::courseKey);
}

std::optional<std::string> QuarvelRun::FindCourseDescription(const std::string& key) const {
    const std::string wanted = platform::ToLowerText(key);
    if (m_descriptionIndex.empty()) {
        // Entries put in without loading the file: look them up one by one.
        for (const DescriptionEntry& entry : descriptionCatalogue) {
            if (platform::ToLowerText(entry.courseKey) == wanted) return entry.htmlDescription;
        }
        return std::nullopt;
    }
    const auto found = m_descriptionIndex.find(wanted);
    if (found == m_descriptionIndex.end() || found->second >= descriptionCatalogue.size()) return std::nullopt;
    return descriptionCatalogue[found->second].htmlDescription;
}

void QuarvelRun::LoadVodCatalogue() {
    const std::string path = GetInstallFolder() + "/VOD info.txt";
    // The VOD job reloads the catalogue in every folder it enters: an
    // unchanged file (same size, time stamp and inode) keeps the table.
    const std::optional<platform::FileStamp> stamp = platform::ReadableFileStamp(path);
    if (stamp && m_vodCatalogueStamp && *stamp == *m_vodCatalogueStamp) return;
    vodCatalogue.clear();
    m_vodIndex.clear();
    m_vodCatalogueStamp.reset();
    const auto bytes = platform::ReadFileBytes(path);
    if (!bytes) return;  // no catalogue: every video gets the defaults
    // A file that changed while it was read is read again next time.
    if (stamp && platform::ReadableFileStamp(path) == stamp) m_vodCatalogueStamp = stamp;
    vodCatalogue = ParseVodCatalogue(*bytes);
    m_vodIndex = IndexFirstEntries(vodCatalogue, &VodInfoEntry::vodKey);
}

const VodInfoEntry* QuarvelRun::FindVodInfo(const std::string& title) const {
    const auto found = m_vodIndex.find(platform::ToLowerText(title));
    return found == m_vodIndex.end() ? nullptr : &vodCatalogue[found->second];
}

SpreadsheetResult QuarvelRun::ConvertSpreadsheet() {
    return ::ConvertSpreadsheet(GetInstallFolder());
}
