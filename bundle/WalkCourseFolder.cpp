#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "app/QuarvelRun.h"
#include "bundle/SettingsFile.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "writers/NormaliseTextFile.h"

namespace {

// One folder whose listing the walk is going through. The listing is taken
// when the folder is entered: entries made in it later are not visited.
struct FolderInHand {
    std::string path;
    std::vector<platform::DirEntry> entries;
    std::size_t next = 0;
};

// Settings files live in a folder named xml; courses copied from other
// systems may spell it XML or Xml.
bool IsXmlFolderName(const std::string& name) {
    return platform::EqualsIgnoringAsciiCase(std::string_view(name).substr(0, 3), "xml");
}

// The package folder a "_vid_" path belongs to: the folder itself, its
// parent, or else its grandparent.
std::string VodFolderOf(const std::string& folder) {
    if (platform::Contains(platform::LastComponent(folder), "_vid_")) return folder;
    const std::string parent = platform::ParentPath(folder);
    if (platform::Contains(platform::LastComponent(parent), "_vid_")) return parent;
    return platform::ParentPath(parent);
}

}  // namespace

void QuarvelRun::WalkCourseFolder(const std::string& folder) {
    m_enteredFolders.clear();
    if (const auto identity = platform::IdentifyFolder(folder)) m_enteredFolders.insert(*identity);

    // Folders are kept on a stack of our own rather than the call stack, so
    // that trees thousands of levels deep are walked as well as flat ones.
    std::vector<FolderInHand> stack;
    const auto enter = [this, &stack](const std::string& path) {
        FolderInHand inHand{path, platform::FindEntries(path, "*.*"), 0};
        // Temporary files that an interrupted run left beside the files it replaced.
        for (const platform::DirEntry& entry : inHand.entries) {
            if (!entry.isDirectory && platform::IsSafeReplaceTempName(entry.name)) {
                DeleteBundleFile(platform::JoinPath(path, entry.name));
            }
        }
        stack.push_back(std::move(inHand));
    };
    enter(folder);

    while (!stack.empty() && !m_summary.stopped) {
        FolderInHand& top = stack.back();
        if (top.next == top.entries.size()) {
            stack.pop_back();
            continue;
        }
        const platform::DirEntry entry = top.entries[top.next++];
        if (!entry.isDirectory) continue;
        const std::string subfolder = platform::JoinPath(top.path, entry.name);  // `top` may move below

        // A link back to a folder already walked would lead round in a circle,
        // and a bundle reached twice would be patched twice.
        const auto identity = platform::IdentifyFolder(subfolder);
        if (!identity || !m_enteredFolders.insert(*identity).second) continue;

        // Courses packaged for another player carry fsscorm.js and are left alone.
        if (platform::CanOpenForReading(subfolder + "/fsscorm.js")) continue;

        if (platform::Contains(subfolder, "_vid_")) {
            const std::string vodFolder = VodFolderOf(subfolder);
            const std::string settingsFile = vodFolder + "/xml/interface.xml";
            // Only a package without the file gets one: a file that merely
            // cannot be read holds the package's settings.
            if (vodFolder != "/" && vodFolder != "." && !platform::FindFirst(settingsFile)) {
                EnsureFolder(vodFolder + "/xml");
                WriteBundleFile(settingsFile, MinimalInterfaceFile(settings.enableHrSetting && settings.isHr));
            }
        }

        if (IsXmlFolderName(entry.name)) {
            const std::string settingsFile = subfolder + "/interface.xml";
            std::error_code ec;
            if (const auto bytes = platform::ReadFileBytes(settingsFile, ec)) {
                if (PatchBundle(subfolder, *bytes)) enter(subfolder);
                continue;
            }
            // A settings file that is there but cannot be read: the folder is
            // walked as an ordinary one, and the user learns why its course was not patched.
            if (ec != std::errc::no_such_file_or_directory && ec != std::errc::is_a_directory) {
                NoteFileFailure("read", settingsFile, ec);
            }
        }
        enter(subfolder);
    }
}

bool QuarvelRun::PatchBundle(const std::string& xmlFolder, std::string_view settingsBytes) {
    const std::string courseFolder = platform::ParentPath(xmlFolder);
    record.courseID = platform::ToLowerText(platform::LastComponent(courseFolder));
    const std::string courseID = record.courseID;

    const SettingsLines file = ReadSettingsLines(settingsBytes);
    if (!file.isUtf8) {
        const std::string note = "Course needs to be converted to UTF-8 in Build: '" + courseID + "'.\n";
        updatedList += note;
        ++m_summary.problemNotes;
        ++m_summary.bundlesWithProblems;
        m_notesAtBundleStart = m_summary.problemNotes;
        m_ui.ShowMessage(note.substr(0, note.size() - 1), "Course Error", MessageStyle::Stop);
        return false;
    }
    RewriteInterfaceXml(file.header.value_or(std::string()), file.lines, xmlFolder + "/interface.xml");

    if (platform::Contains(courseID, "_vid_")) return BundleDone(courseFolder);

    const std::string questionFile = xmlFolder + "/question.xml";
    if (const std::error_code ec = NormaliseTextFile(questionFile); ec && ec != std::errc::no_such_file_or_directory) {
        NoteFileFailure("write", questionFile, ec);
    }

    // The writers show a part of a series under the series title and its subtitle.
    if (platform::Contains(courseID, "__") && !record.Subtitle.empty()) {
        record.WebTitle += ": " + record.Subtitle;
    }

    if (settings.packageType == PackageType::Scorm12) {
        WriteScormManifest(courseFolder + "/imsmanifest.xml");
        DeleteBundleFile(courseFolder + "/index.html");
        DeleteBundleFile(courseFolder + "/tincan.xml");
    } else {
        WriteIndexPage(courseFolder + "/index.html");
        WriteTincanXml(courseFolder + "/tincan.xml");
        DeleteBundleFile(courseFolder + "/imsmanifest.xml");
    }
    WriteCoursePage(courseFolder + "/" + courseID + ".htm");

    updatedList += xmlFolder + "\n";

    const std::string contentFolder = RefreshAssets(courseFolder);
    if (settings.exitStatusMode != ExitStatusMode::ScormConformant) PatchExitStatus(contentFolder + "/scripts");
    if (settings.deleteBmp) DeleteBundleFile(contentFolder + "/" + courseID + ".bmp");

    return BundleDone(courseFolder);
}
