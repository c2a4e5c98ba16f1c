#include "app/QuarvelRun.h"
#include "bundle/SettingsFile.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace {

// Copies every file of `sourceFolder` that matches `pattern` (in any letter
// case) into `destinationFolder` under its own name.
void CopyMatchingFiles(QuarvelRun& run, const std::string& sourceFolder, std::string_view pattern,
                       const std::string& destinationFolder, std::string_view except = {}) {
    for (const platform::DirEntry& entry : platform::FindEntries(sourceFolder, pattern)) {
        if (entry.isDirectory || (!except.empty() && platform::EqualsIgnoringCase(entry.name, except))) continue;
        run.CopyBundleFile(platform::JoinPath(sourceFolder, entry.name),
                           platform::JoinPath(destinationFolder, entry.name));
    }
}

}  // namespace

std::string QuarvelRun::RefreshAssets(const std::string& courseFolder) {
    const std::string web = GetInstallFolder() + "/web";
    const std::string& courseID = record.courseID;

    CopyBundleFile(web + "/xml/message_html.xml", courseFolder + "/xml/message_html.xml");
    EnsureFolder(courseFolder + "/controls");

    const std::string content = LocateContentFolder(courseFolder);
    const std::string controls = content + "/controls";
    CopyMatchingFiles(*this, web + "/controls", "*.css", controls);
    if (platform::Contains(courseID, "_adl_")) {
        CopyBundleFile(web + "/controls/adl_roadmap_bkgd.jpg", controls + "/adl_roadmap_bkgd.jpg");
    }
    CopyBundleFile(web + "/ims_xml.xsd", content + "/ims_xml.xsd");
    CopyBundleFile(web + "/controls/backgrnd.jpg", controls + "/backgrnd.jpg");
    const std::string code = BackgroundCode(courseID);
    CopyBundleFile(web + "/controls/qst_bkgd_" + code + ".jpg", controls + "/qst_bkgd_" + code + ".jpg");
    CopyBundleFile(web + "/controls/test_bkgd_" + code + ".jpg", controls + "/test_bkgd_" + code + ".jpg");
    CopyBundleFile(web + "/controls/rev_menu_back.jpg", controls + "/rev_menu_back.jpg");
    CopyBundleFile(web + "/controls/certificate.jpg", controls + "/certificate.jpg");

    EnsureFolder(content + "/scripts");
    // With an exit-status mode the patch writes communication.js from the same
    // template right after the refresh: the bundle's script then goes from its
    // old bytes straight to its patched ones, never through a plain copy that
    // an interruption could leave behind.
    CopyMatchingFiles(*this, web + "/scripts", "*.js", content + "/scripts",
                      settings.exitStatusMode != ExitStatusMode::ScormConformant ? "communication.js" : "");
    DeleteBundleFile(content + "/scripts/file_exists.php");

    EnsureFolder(content + "/html");
    CopyBundleFile(web + "/html/NimbrelWebPlayer.html", content + "/html/NimbrelWebPlayer.html");
    CopyMatchingFiles(*this, web + "/controls", "*.png", controls);
    EnsureFolder(controls + "/images");
    CopyMatchingFiles(*this, web + "/controls/images", "ui-*.png", controls + "/images");
    return content;
}
