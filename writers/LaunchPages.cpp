#include "writers/LaunchPages.h"

#include "writers/CopyTemplate.h"
#include "writers/Escape.h"

void WriteCoursePage(BundleFiles& files, Installation& install, const std::string& path, const std::string& courseID,
                     const std::string& adapterScript) {
    // Any "top:" or "left:" line, margin-top and the like included, centres the player.
    std::vector<TemplateRule> rules = {
        {"top:", "\ttop:  50%;\n"},
        {"left:", "\tleft:  50%;\n"},
        {"'DorvaneID=courseID", "\t\t\t'DorvaneID=" + EscapeScriptString(courseID) + "'\n"},
    };
    if (!adapterScript.empty()) {
        rules.push_back({"<head>", "<script src=\"" + EscapeXmlText(adapterScript) + "\"></script>\n", true});
    }
    CopyTemplate(files, install, install.Web() + "/html/courseID.htm", path, rules, ReadOnly::clear);
}

void WriteIndexPage(BundleFiles& files, Installation& install, const std::string& path, const std::string& courseID) {
    CopyTemplate(
        files, install, install.Web() + "/html/index.html", path,
        {
            {"'DorvaneID=courseID", "\t\t\t\t\t\t'DorvaneID=" + EscapeScriptString(courseID) + "'\n"},
            // The template's next line continues the expression after " +".
            {"window.location.assign", "\t\t\t\t\t\twindow.location.assign('" +
                                           EscapeScriptString(PercentEncodeUrlChars(courseID)) + ".htm?' +\n"},
            {"sParameterName[1].replace", "\t\t\t\t\t\t\t\t\t\treturn sParameterName[1].replace(/%20/g, ' ');\n"},
        },
        ReadOnly::clear);
}
