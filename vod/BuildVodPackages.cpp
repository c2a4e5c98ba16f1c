#include "app/QuarvelRun.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

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

}  // namespace

void QuarvelRun::BuildVodPackages(const std::string& folder, bool copyVideo) {
    EnsureFolder(GetInstallFolder() + "/vod packages");
    LoadVodCatalogue();
    bool videosPackaged = false;
    for (const platform::DirEntry& entry : platform::FindEntries(folder, "*.*")) {
        if (m_summary.stopped) return;
        if (entry.isDirectory) {
            BuildVodPackages(platform::JoinPath(folder, entry.name), copyVideo);
        } else if (!videosPackaged) {
            // The folder's videos are packaged once, at its first file; the
            // subfolders listed after that file are still walked in turn.
            videosPackaged = true;
            for (const platform::DirEntry& video : platform::FindEntries(folder, "*_vid_*.mp4")) {
                // A folder named like a video is walked above, never packaged.
                if (!video.isDirectory && !m_summary.stopped) PackageVideo(folder, video.name, copyVideo);
            }
        }
    }
}

void QuarvelRun::PackageVideo(const std::string& sourceFolder, const std::string& fileName, bool copyVideo) {
    const std::string& install = GetInstallFolder();
    const std::string title = fileName.substr(0, fileName.rfind('.'));
    // Every path of the package is formed from the folder named with the title
    // as the file system gives it, so on a case-sensitive system they all lie
    // in one folder.
    const std::string packageFolder = install + "/vod packages/" + title;
    EnsureFolder(packageFolder);

    record.courseID = platform::ToLowerText(title);
    if (const char* language = LanguageOfTitle(record.courseID)) record.Language = language;
    settings.updateDescriptionsFromHtml = true;
    if (const VodInfoEntry* info = FindVodInfo(record.courseID)) {
        record.WebTitle = info->courseTitle;
        record.WebDescription = info->htmlDescription;
        record.ProductCode = info->productCode;
    } else {
        record.WebTitle = record.courseID;
        record.WebDescription.clear();
        record.ProductCode = record.courseID;
    }
    WriteScormManifest(packageFolder + "/imsmanifest.xml");
    WriteCoursePage(packageFolder + "/" + record.courseID + ".htm");

    const std::string web = install + "/web";
    const std::string html = packageFolder + "/html";
    EnsureFolder(html);
    CopyBundleFile(web + "/html/NimbrelWebPlayer.html", html + "/NimbrelWebPlayer.html");

    const std::string scripts = packageFolder + "/scripts";
    EnsureFolder(scripts);
    for (const char* script :
         {"NimbrelWebPlayer.js", "communication.js", "jquery-3.3.1.min.js", "jquery-ui.min.js", "vod.js"}) {
        CopyBundleFile(web + "/scripts/" + script, scripts + "/" + script);
    }

    const std::string controls = packageFolder + "/controls";
    EnsureFolder(controls);
    CopyBundleFile(install + "/buttons png/arrows/gray/up png/up_exit.png", controls + "/up_exit.png");
    CopyBundleFile(install + "/buttons png/arrows/royal/dn png/dn_exit.png", controls + "/dn_exit.png");
    CopyBundleFile(web + "/controls/jquery-ui.css", controls + "/jquery-ui.css");

    const std::string video = packageFolder + "/video";
    EnsureFolder(video);
    if (copyVideo) CopyBundleFile(platform::JoinPath(sourceFolder, fileName), video + "/" + fileName);
    const std::string vtt = video + "/vtt";
    EnsureFolder(vtt);
    CopyBundleFile(platform::JoinPath(sourceFolder, title + ".vtt"), vtt + "/" + title + ".vtt");

    const std::string xml = packageFolder + "/xml";
    EnsureFolder(xml);
    const std::string interfacePath = xml + "/interface.xml";
    std::optional<std::string> isHrsLine;
    if (const std::optional<std::string> previous = platform::ReadFileBytes(interfacePath)) {
        if (!settings.enableHrSetting) isHrsLine = FindIsHrsLine(*previous);
    } else {
        settings.enableHrSetting = true;
    }
    // A previous file without an isHRS line gets the one the options give.
    if (!isHrsLine) isHrsLine = IsHrsLine(settings.isHr);
    WriteBundleFile(interfacePath, FiveLineInterfaceFile(*isHrsLine));

    BundleDone(packageFolder);
}
