#include "vod/BuildVodPackages.h"

#include <optional>
#include <set>
#include <tuple>

#include "bundle/SettingsFile.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "writers/Escape.h"
#include "writers/LaunchPages.h"
#include "writers/ScormManifest.h"

namespace {

// The language of a video from the markers in its lower-cased title; nothing
// when the title has none.
const char* LanguageOfTitle(const std::string& courseID) {
    if (platform::Contains(courseID, "_en__")) return "English";
    if (platform::Contains(courseID, "_sp__")) return "Espa\xC3\xB1ol";
    if (platform::Contains(courseID, "_en")) return "English";
    if (platform::Contains(courseID, "_sp")) return "Espa\xC3\xB1ol";
    return nullptr;
}

// The isHRS line of an existing package settings file: the first line after
// the first that holds "<isHRS>", kept as it is, with a LF for its line end. Nothing when the file
// has none.
std::optional<std::string> FindIsHrsLine(std::string_view bytes) {
    const std::string text = platform::DecodeUtf8Lossy(bytes);
    std::size_t start = text.find('\n');
    while (start != std::string::npos) {
        ++start;
        const std::size_t lf = text.find('\n', start);
        std::string_view line = std::string_view(text).substr(start, lf == std::string::npos ? lf : lf - start);
        line = line.substr(0, line.find('\r'));
        if (platform::Contains(line, "<isHRS>")) return std::string(line) + "\n";
        start = lf;
    }
    return std::nullopt;
}

// Builds the package of one video; false when the person asked to stop.
bool PackageVideo(VodJobContext& job, const std::string& sourceFolder, const std::string& fileName, bool copyVideo);

// Visits one folder of the content tree once (links may lead back to a
// folder already visited); false when the person asked to stop.
bool VisitFolder(VodJobContext& job, const std::string& folder, bool copyVideo,
                 std::set<platform::FolderIdentity>& visited) {
    const auto identity = job.files.IdentifyFolder(folder);
    if (!identity || !visited.insert(*identity).second) return true;
    std::ignore = job.files.EnsureFolder(job.install.Folder() + "/vod packages");
    job.loadVodCatalogue();
    bool videosPackaged = false;
    for (const platform::DirEntry& entry : job.files.List(folder, "*.*")) {
        if (entry.isDirectory) {
            // A link that leads out of the content folder is named and not followed.
            if (!VisitFolder(job, platform::JoinPath(folder, entry.name), copyVideo, visited)) return false;
        } else if (!videosPackaged) {
            // The folder's videos are packaged once, at its first file; the
            // subfolders listed after that file are still walked in turn.
            videosPackaged = true;
            for (const platform::DirEntry& video : job.files.List(folder, "*_vid_*.mp4")) {
                // A folder named like a video is walked above, never packaged.
                if (!video.isDirectory && !PackageVideo(job, folder, video.name, copyVideo)) return false;
            }
        }
    }
    return true;
}

bool PackageVideo(VodJobContext& job, const std::string& sourceFolder, const std::string& fileName, bool copyVideo) {
    CourseSettings& settings = job.settings;
    CourseRecord& record = job.record;
    BundleFiles& files = job.files;
    const auto copy = [&files](const std::string& source, const std::string& destination) {
        std::ignore = files.Copy(source, destination);
    };
    const auto ensureFolder = [&files](const std::string& path) { std::ignore = files.EnsureFolder(path); };
    const std::string& install = job.install.Folder();
    const std::string title = fileName.substr(0, fileName.rfind('.'));
    // Every path of the package is formed from the folder named with the title
    // as the file system gives it, so on a case-sensitive system they all lie
    // in one folder.
    const std::string packageFolder = install + "/vod packages/" + title;
    ensureFolder(packageFolder);

    record.courseID = platform::ToLowerText(title);
    if (const char* language = LanguageOfTitle(record.courseID)) record.Language = language;
    // The package's manifest takes its description from the catalogue, for this video and every later one.
    settings.updateDescriptionsFromHtml = true;
    if (const VodInfoEntry* info = job.findVodInfo(record.courseID)) {
        // Catalogue text holds the references the conversion made: kept, and the rest made safe for XML.
        record.WebTitle = EscapeXmlMarkupText(info->courseTitle);
        record.WebDescription = info->htmlDescription;
        record.ProductCode = EscapeXmlMarkupText(info->productCode);
    } else {
        record.WebTitle = EscapeXmlText(record.courseID);
        record.WebDescription.clear();
        record.ProductCode = EscapeXmlText(record.courseID);
    }
    WriteScormManifest(files, packageFolder + "/imsmanifest.xml", ManifestFromRecord(record, settings, job.install));
    job.listener.PackageFileGenerated(packageFolder + "/imsmanifest.xml", PackageFile::ScormManifest);
    WriteCoursePage(files, job.install, packageFolder + "/" + record.courseID + ".htm", record.courseID);

    const std::string web = install + "/web";
    const std::string html = packageFolder + "/html";
    ensureFolder(html);
    copy(web + "/html/NimbrelWebPlayer.html", html + "/NimbrelWebPlayer.html");

    const std::string scripts = packageFolder + "/scripts";
    ensureFolder(scripts);
    for (const char* script :
         {"NimbrelWebPlayer.js", "communication.js", "jquery-3.3.1.min.js", "jquery-ui.min.js", "vod.js"}) {
        copy(web + "/scripts/" + script, scripts + "/" + script);
    }

    const std::string controls = packageFolder + "/controls";
    ensureFolder(controls);
    copy(install + "/buttons png/arrows/gray/up png/up_exit.png", controls + "/up_exit.png");
    copy(install + "/buttons png/arrows/royal/dn png/dn_exit.png", controls + "/dn_exit.png");
    copy(web + "/controls/jquery-ui.css", controls + "/jquery-ui.css");

    const std::string video = packageFolder + "/video";
    ensureFolder(video);
    if (copyVideo) copy(platform::JoinPath(sourceFolder, fileName), video + "/" + fileName);
    const std::string vtt = video + "/vtt";
    ensureFolder(vtt);
    copy(platform::JoinPath(sourceFolder, title + ".vtt"), vtt + "/" + title + ".vtt");

    const std::string xml = packageFolder + "/xml";
    ensureFolder(xml);
    const std::string interfacePath = xml + "/interface.xml";
    std::optional<std::string> isHrsLine;
    std::error_code ec;
    if (const std::optional<std::string> previous = files.Read(interfacePath, ec)) {
        if (!settings.enableHrSetting) isHrsLine = FindIsHrsLine(*previous);
    } else {
        // A new package takes the isHRS line the options give, and so does every later one.
        settings.enableHrSetting = true;
    }
    // A previous file without an isHRS line gets the one the options give.
    if (!isHrsLine) isHrsLine = IsHrsLine(settings.isHr);
    std::ignore = files.Write(interfacePath, FiveLineInterfaceFile(*isHrsLine));

    return job.listener.BundleDone(packageFolder);
}

}  // namespace

void BuildVodPackages(const std::string& folder, bool copyVideo, VodJobContext& job) {
    std::set<platform::FolderIdentity> visited;
    std::ignore = VisitFolder(job, folder, copyVideo, visited);
}
