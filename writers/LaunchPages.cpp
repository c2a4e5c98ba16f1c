#include "writers/LaunchPages.h"

#include "writers/CopyTemplate.h"

void WriteCoursePage(BundleFiles& files, Installation& install, const std::string& path, const std::string& courseID) {
    // Any "top:" or "left:" line, margin-top and the like included, centres the player.
    CopyTemplate(files, install, install.Web() + "/html/courseID.htm", path,
                 {
                     {"top:", "\ttop:  50%;\n"},
                     {"left:", "\tleft:  50%;\n"},
                     {"'DorvaneID=courseID", "\t\t\t'DorvaneID=" + courseID + "'\n"},
                 },
                 ReadOnly::clear);
}

void WriteIndexPage(BundleFiles& files, Installation& install, const std::string& path, const std::string& courseID) {
    CopyTemplate(
        files, install, install.Web() + "/html/index.html", path,
        {
            {"'DorvaneID=courseID", "\t\t\t\t\t\t'DorvaneID=" + courseID + "'\n"},
            // The template's next line continues the expression after " +".
            {"window.location.assign", "\t\t\t\t\t\twindow.location.assign('" + courseID + ".htm?' +\n"},
            {"sParameterName[1].replace", "\t\t\t\t\t\t\t\t\t\treturn sParameterName[1].replace(/%20/g, ' ');\n"},
        },
        ReadOnly::clear);
}
