#include "bundle/WalkCourseFolder.h"

#include <algorithm>
#include <cstddef>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "bundle/RefreshAssets.h"
#include "bundle/RewriteInterfaceXml.h"
#include "bundle/SettingsFile.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "writers/Escape.h"
#include "writers/ExitStatusPatch.h"
#include "writers/LaunchPages.h"
#include "writers/NormaliseTextFile.h"
#include "writers/Scorm2004Adapter.h"
#include "writers/Scorm2004Manifest.h"
#include "writers/ScormManifest.h"
#include "writers/TincanXml.h"

namespace {

// One folder whose listing the walk is going through. The listing is taken
// when the folder is entered: entries made in it later are not visited. Only
// its name is kept: the walk's path grows and shrinks as it goes, so a tree
// thousands of levels deep costs its depth, not its depth squared.
struct FolderInHand {
    std::size_t nameLength = 0;  // of its name at the end of the walk's path
    platform::FolderIdentity identity;
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

// What the walk does after a bundle.
enum class AfterBundle { Descend, Skip, Stop };

// Patches the bundle whose settings file xmlFolder/interface.xml is open in
// `opened`, or, when this run staged it, holds `staged`.
AfterBundle PatchBundle(MainJobContext& job, const std::string& xmlFolder, platform::ReadableFile opened,
                        const std::optional<std::string>& staged);

}  // namespace

void WalkCourseFolder(const std::string& folder, MainJobContext& job) {
    BundleFiles& files = job.files;
    // Folders the walk has entered, so that links never lead round in a circle.
    std::set<platform::FolderIdentity> enteredFolders;
    const std::optional<platform::FolderIdentity> top = files.IdentifyFolder(folder);
    if (top) enteredFolders.insert(*top);
    bool goOn = true;

    // Folders are kept on a stack of our own rather than the call stack, so
    // that trees thousands of levels deep are walked as well as flat ones.
    std::string path = folder;  // of the folder on top of the stack
    std::vector<FolderInHand> stack;
    const auto enter = [&](std::size_t nameLength, const platform::FolderIdentity& identity) {
        std::error_code ec;
        FolderInHand inHand{nameLength, identity, files.List(path, "*.*", ec), 0};
        if (ec) files.NoteFailure("list the folder", path, ec);
        // Temporary files that an interrupted run left beside the files it replaced.
        for (const platform::DirEntry& entry : inHand.entries) {
            if (!entry.isDirectory && platform::IsSafeReplaceTempName(entry.name)) {
                std::ignore = files.Delete(platform::JoinPath(path, entry.name));
            }
        }
        stack.push_back(std::move(inHand));
    };
    enter(0, top.value_or(platform::FolderIdentity{}));

    while (!stack.empty() && goOn) {
        FolderInHand& inHand = stack.back();
        if (inHand.next == inHand.entries.size()) {
            const std::string child = path;
            path.resize(path.size() - inHand.nameLength - (inHand.nameLength > 0 ? 1 : 0));
            stack.pop_back();
            // Back up through the folder just left, not from the top again.
            if (!stack.empty()) files.ReturnToParent(child, path, stack.back().identity);
            continue;
        }
        const platform::DirEntry entry = inHand.entries[inHand.next++];
        if (!entry.isDirectory) continue;
        const std::string subfolder = platform::JoinPath(path, entry.name);

        // A link back to a folder already walked would lead round in a circle,
        // and a bundle reached twice would be patched twice; a link that leads
        // out of the starting folder is named and not followed.
        const auto identity = files.IdentifyFolder(subfolder);
        if (!identity || !enteredFolders.insert(*identity).second) continue;

        // Courses packaged for another player carry fsscorm.js and are left alone.
        const std::string marker = subfolder + "/fsscorm.js";
        if (files.CanRead(marker)) continue;
        if (const platform::EntryKind kind = files.KindOf(marker);
            kind != platform::EntryKind::missing && kind != platform::EntryKind::file) {
            files.NoteFailure("read", marker, platform::MakeError(platform::FileError::notRegularFile));
        }

        if (platform::Contains(subfolder, "_vid_")) {
            const std::string vodFolder = VodFolderOf(subfolder);
            const std::string settingsFile = vodFolder + "/xml/interface.xml";
            // Only a package without the file gets one: a file that merely
            // cannot be read holds the package's settings.
            if (vodFolder != "/" && vodFolder != "." && !files.Exists(settingsFile)) {
                std::ignore = files.EnsureFolder(vodFolder + "/xml");
                std::ignore =
                    files.Write(settingsFile, MinimalInterfaceFile(job.settings.enableHrSetting && job.settings.isHr));
            }
        }

        bool descend = true;
        if (IsXmlFolderName(entry.name)) {
            const std::string settingsFile = subfolder + "/interface.xml";
            std::error_code ec;
            // Read in pieces where it is: a settings file can be of any size.
            // One this run staged (the five-line file of a package, above)
            // is not on the disk yet, and is read whole.
            platform::ReadableFile file = files.Open(settingsFile, ec);
            std::optional<std::string> staged;
            if (!file && ec == std::errc::no_such_file_or_directory) staged = files.Read(settingsFile, ec);
            if (file || staged) {
                const AfterBundle next = PatchBundle(job, subfolder, std::move(file), staged);
                descend = next == AfterBundle::Descend;
                goOn = next != AfterBundle::Stop;
            } else if (ec != std::errc::no_such_file_or_directory && ec != std::errc::is_a_directory) {
                // A settings file that is there but cannot be read: the folder is
                // walked as an ordinary one, and the user learns why its course was not patched.
                files.NoteFailure("read", settingsFile, ec);
            }
        }
        if (descend && goOn) {
            path = subfolder;
            enter(entry.name.size(), *identity);
        }
    }
}

namespace {

// The next step after a bundle the person may have stopped the run at.
AfterBundle Done(MainJobContext& job, const std::string& courseFolder) {
    return job.listener.BundleDone(courseFolder) ? AfterBundle::Descend : AfterBundle::Stop;
}

AfterBundle PatchBundle(MainJobContext& job, const std::string& xmlFolder, platform::ReadableFile opened,
                        const std::optional<std::string>& staged) {
    const CourseSettings& settings = job.settings;
    CourseRecord& record = job.record;
    BundleFiles& files = job.files;
    const std::string courseFolder = platform::ParentPath(xmlFolder);
    const std::string courseID = platform::ToLowerText(platform::LastComponent(courseFolder));
    // The course key goes into the manifest, the pages and the LMS: a name
    // that is not text cannot be written there faithfully.
    if (!platform::IsValidUtf8(courseID)) {
        job.report.AddProblem("'" + EscapeLogPath(courseFolder) +
                              "' is not a valid UTF-8 name; the course bundle was not patched.\n");
        return AfterBundle::Skip;
    }
    // Control characters other than line ends and tabs cannot stand in XML at all, escaped or not.
    if (std::any_of(courseID.begin(), courseID.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r';
        })) {
        job.report.AddProblem("'" + EscapeLogPath(courseFolder) +
                              "' holds control characters; the course bundle was not patched.\n");
        return AfterBundle::Skip;
    }
    record.courseID = courseID;

    const RewriteInputs inputs{settings, courseID, job.install.ProgramDate(), job.findDescription};
    const SettingsFileOutcome rewrite = RewriteSettingsFile(
        files, xmlFolder + "/interface.xml", staged ? ReadFrom(*staged) : ReadFrom(opened), inputs, record);
    // Closed before its new version takes its name.
    opened = platform::ReadableFile();
    if (rewrite == SettingsFileOutcome::notRead) return AfterBundle::Descend;
    if (rewrite == SettingsFileOutcome::notUtf8) {
        const std::string note = "Course needs to be converted to UTF-8 in Build: '" + EscapeLogName(courseID) + "'.\n";
        job.report.AddProblem(note);
        job.listener.CourseError(note);
        return AfterBundle::Skip;
    }

    if (platform::Contains(courseID, "_vid_")) return Done(job, courseFolder);

    NormaliseTextFile(files, xmlFolder + "/question.xml");

    // The writers show a part of a series under the series title and its subtitle.
    if (platform::Contains(courseID, "__") && !record.Subtitle.empty()) {
        record.WebTitle += ": " + record.Subtitle;
    }

    const bool scorm2004 = settings.packageType == PackageType::Scorm2004;
    if (settings.packageType != PackageType::Xapi) {
        const std::string manifest = courseFolder + "/imsmanifest.xml";
        const ManifestInputs values = ManifestFromRecord(record, settings, job.install);
        if (scorm2004) {
            WriteScorm2004Manifest(files, manifest, values, settings.exitStatusMode);
        } else {
            WriteScormManifest(files, manifest, values);
        }
        job.listener.PackageFileGenerated(manifest,
                                          scorm2004 ? PackageFile::Scorm2004Manifest : PackageFile::ScormManifest);
        std::ignore = files.Delete(courseFolder + "/index.html");
        std::ignore = files.Delete(courseFolder + "/tincan.xml");
    } else {
        WriteIndexPage(files, job.install, courseFolder + "/index.html", courseID);
        // The activity file escapes the description in the record itself: a
        // second description line of the template escapes it once more.
        record.WebDescription = WriteTincanXml(files, job.install, courseFolder + "/tincan.xml", courseID,
                                               record.WebTitle, record.WebDescription);
        job.listener.PackageFileGenerated(courseFolder + "/tincan.xml", PackageFile::TincanXml);
        std::ignore = files.Delete(courseFolder + "/imsmanifest.xml");
    }
    // A SCORM 2004 page loads the adapter from where the asset refresh puts the player's scripts.
    const std::string adapter =
        scorm2004 ? Scorm2004AdapterUrl(courseFolder, LocateContentFolder(files, courseFolder)) : "";
    WriteCoursePage(files, job.install, courseFolder + "/" + courseID + ".htm", courseID, adapter);

    // A name is written as it is, but for what would break the log's lines.
    job.report.updatedList += EscapeLogPath(xmlFolder) + "\n";

    const bool patchScript = settings.exitStatusMode != ExitStatusMode::ScormConformant;
    const std::string contentFolder = RefreshAssets(files, job.install.Web(), courseFolder, courseID, patchScript);
    if (patchScript) PatchExitStatus(files, job.install, contentFolder + "/scripts", settings.exitStatusMode);
    if (scorm2004) {
        WriteScorm2004Adapter(files, contentFolder + "/scripts");
    } else {
        std::ignore = files.Delete(contentFolder + "/scripts/" + std::string(kScorm2004AdapterName));
    }
    if (settings.deleteBmp) std::ignore = files.Delete(contentFolder + "/" + courseID + ".bmp");

    return Done(job, courseFolder);
}

}  // namespace
