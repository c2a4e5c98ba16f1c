#include "app/QuarvelRun.h"

void QuarvelRun::WriteCoursePage(const std::string& path) {
    // Any "top:" or "left:" line, margin-top and the like included, centres the player.
    CopyTemplate(GetInstallFolder() + "/web/html/courseID.htm", path,
                 {
                     {"top:", "\ttop:  50%;\n"},
                     {"left:", "\tleft:  50%;\n"},
                     {"'DorvaneID=courseID", "\t\t\t'DorvaneID=" + record.courseID + "'\n"},
                 },
                 ReadOnly::clear);
}

void QuarvelRun::WriteIndexPage(const std::string& path) {
    CopyTemplate(
        GetInstallFolder() + "/web/html/index.html", path,
        {
            {"'DorvaneID=courseID", "\t\t\t\t\t\t'DorvaneID=" + record.courseID + "'\n"},
            // The template's next line continues the expression after " +".
            {"window.location.assign", "\t\t\t\t\t\twindow.location.assign('" + record.courseID + ".htm?' +\n"},
            {"sParameterName[1].replace", "\t\t\t\t\t\t\t\t\t\treturn sParameterName[1].replace(/%20/g, ' ');\n"},
        },
        ReadOnly::clear);
}
