#include "bundle/RefreshAssets.h"

#include <tuple>

#include "bundle/SettingsFile.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace {

// Copies every file of `sourceFolder` that matches `pattern` (in any letter
// case) into `destinationFolder` under its own name.
void CopyMatchingFiles(BundleFiles& files, const std::string& sourceFolder, std::string_view pattern,
                       const std::string& destinationFolder, std::string_view except = {}) {
    for (const platform::DirEntry& entry : platform::FindEntries(sourceFolder, pattern)) {
        if (entry.isDirectory || (!except.empty() && platform::EqualsIgnoringCase(entry.name, except))) continue;
        std::ignore =
            files.Copy(platform::JoinPath(sourceFolder, entry.name), platform::JoinPath(destinationFolder, entry.name));
    }
}

}  // namespace

std::string RefreshAssets(BundleFiles& files, const std::string& web, const std::string& courseFolder,
                          const std::string& courseID, bool scriptIsPatched) {
    const auto copy = [&files](const std::string& source, const std::string& destination) {
        std::ignore = files.Copy(source, destination);
    };

    copy(web + "/xml/message_html.xml", courseFolder + "/xml/message_html.xml");
    std::ignore = files.EnsureFolder(courseFolder + "/controls");

    const std::string content = LocateContentFolder(files, courseFolder);
    const std::string controls = content + "/controls";
    CopyMatchingFiles(files, web + "/controls", "*.css", controls);
    if (platform::Contains(courseID, "_adl_")) {
        copy(web + "/controls/adl_roadmap_bkgd.jpg", controls + "/adl_roadmap_bkgd.jpg");
    }
    copy(web + "/ims_xml.xsd", content + "/ims_xml.xsd");
    copy(web + "/controls/backgrnd.jpg", controls + "/backgrnd.jpg");
    const std::string code = BackgroundCode(courseID);
    copy(web + "/controls/qst_bkgd_" + code + ".jpg", controls + "/qst_bkgd_" + code + ".jpg");
    copy(web + "/controls/test_bkgd_" + code + ".jpg", controls + "/test_bkgd_" + code + ".jpg");
    copy(web + "/controls/rev_menu_back.jpg", controls + "/rev_menu_back.jpg");
    copy(web + "/controls/certificate.jpg", controls + "/certificate.jpg");

    std::ignore = files.EnsureFolder(content + "/scripts");
    // With an exit-status mode the patch writes communication.js from the same
    // template right after the refresh: the bundle's script then goes from its
    // old bytes straight to its patched ones, never through a plain copy that
    // an interruption could leave behind.
    CopyMatchingFiles(files, web + "/scripts", "*.js", content + "/scripts", scriptIsPatched ? "communication.js" : "");
    std::ignore = files.Delete(content + "/scripts/file_exists.php");

    std::ignore = files.EnsureFolder(content + "/html");
    copy(web + "/html/NimbrelWebPlayer.html", content + "/html/NimbrelWebPlayer.html");
    CopyMatchingFiles(files, web + "/controls", "*.png", controls);
    std::ignore = files.EnsureFolder(controls + "/images");
    CopyMatchingFiles(files, web + "/controls/images", "ui-*.png", controls + "/images");
    return content;
}
