#include "app/QuarvelRun.h"

#include "platform/FileSystem.h"
#include "writers/TemplateCache.h"

QuarvelRun::QuarvelRun(UserInterface& ui, const platform::Clock& clock, InstallStore store)
    : m_ui(ui), m_clock(clock), m_store(std::move(store)), m_templateCache(std::make_unique<TemplateCache>()) {}

QuarvelRun::~QuarvelRun() = default;

const std::string& QuarvelRun::GetInstallFolder() {
    if (!m_installFolder) m_installFolder = m_store.GetInstallFolder();
    return *m_installFolder;
}

std::string QuarvelRun::PatchLogPath() {
    return GetInstallFolder() + "/nb_logfile.txt";
}

void QuarvelRun::NoteFileFailure(const std::string& action, const std::string& path, std::error_code ec) {
    updatedList += "Could not " + action + " '" + path + "': " + ec.message() + ".\n";
    ++m_summary.problemNotes;
}

bool QuarvelRun::BundleDone(const std::string& folder) {
    ++m_summary.bundlesPatched;
    if (m_summary.problemNotes > m_notesAtBundleStart) ++m_summary.bundlesWithProblems;
    m_notesAtBundleStart = m_summary.problemNotes;
    if (m_ui.ReportProgress(m_summary.bundlesPatched, folder) == UserInterface::Progress::Continue) return true;
    m_summary.stopped = true;
    updatedList += "The run was stopped after '" + folder + "'; the course bundles after it were not patched.\n";
    return false;
}

bool QuarvelRun::WriteBundleFile(const std::string& path, std::string_view bytes) {
    if (const std::error_code ec = platform::ReplaceFileSafely(path, bytes)) {
        NoteFileFailure("write", path, ec);
        return false;
    }
    return true;
}

bool QuarvelRun::CopyBundleFile(const std::string& source, const std::string& destination) {
    if (const std::error_code ec = platform::CopyFileOver(source, destination)) {
        // A template the installation lacks is skipped without a word.
        if (platform::IsRegularFile(source)) NoteFileFailure("copy to", destination, ec);
        return false;
    }
    return true;
}

bool QuarvelRun::DeleteBundleFile(const std::string& path) {
    if (const std::error_code ec = platform::RemoveFile(path)) {
        NoteFileFailure("delete", path, ec);
        return false;
    }
    return true;
}

bool QuarvelRun::EnsureFolder(const std::string& path) {
    if (platform::FindFirst(path)) return true;
    return !platform::CreateFolder(path);
}

std::string IsHrsLine(bool isHrs) {
    return isHrs ? "\t\t<isHRS>true</isHRS>\n" : "\t\t<isHRS>false</isHRS>\n";
}

std::string FiveLineInterfaceFile(std::string_view isHrsLine) {
    return platform::EncodeUtf8TextStream("<xmlFile>\n\t<Attributes>\n" + std::string(isHrsLine) +
                                          "\t</Attributes>\n</xmlFile>\n");
}

std::string MinimalInterfaceFile(bool isHrs) {
    return FiveLineInterfaceFile(IsHrsLine(isHrs));
}
