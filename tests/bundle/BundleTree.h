#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/TestSupport.h"

// Expected files below a folder, by relative path. Nothing in place of the
// bytes: a file a package writer generates, whose bytes the writers' own
// tests check; here only its presence counts.
using ExpectedTree = std::map<std::string, std::optional<std::string>>;

inline void ExpectTree(const fs::path& root, const ExpectedTree& expected) {
    std::vector<std::string> names, expectedNames;
    const auto snapshot = SnapshotTree(root);
    for (const auto& file : snapshot) names.push_back(file.first);
    for (const auto& file : expected) expectedNames.push_back(file.first);
    EXPECT_EQ(names, expectedNames);
    for (const auto& [name, bytes] : snapshot) {
        const auto found = expected.find(name);
        if (found != expected.end() && found->second) {
            EXPECT_EQ(bytes, *found->second) << name;
        }
    }
}

// The template folder of the test installation: the player's assets, the
// writers' page templates and the program whose date stamps the version.
inline const std::vector<std::pair<std::string, std::string>>& WebTemplateFiles() {
    static const std::vector<std::pair<std::string, std::string>> files = {
        {"quarvel.exe", "MZ"},
        {"xml/message_html.xml", "<messages>\r\n</messages>\r\n"},
        {"ims_xml.xsd", "<xsd/>\n"},
        {"controls/player.css", "body {}\n"},
        {"controls/EXTRA.CSS", "p {}\n"},
        {"controls/adl_roadmap_bkgd.jpg", "adl"},
        {"controls/backgrnd.jpg", "backgrnd"},
        {"controls/qst_bkgd_fir.jpg", "qst fir"},
        {"controls/test_bkgd_fir.jpg", "test fir"},
        {"controls/qst_bkgd_fin.jpg", "qst fin"},
        {"controls/test_bkgd_fin.jpg", "test fin"},
        {"controls/QST_BKGD_SAF.JPG", "qst saf"},
        {"controls/Test_Bkgd_Saf.jpg", "test saf"},
        {"controls/rev_menu_back.jpg", "rev"},
        {"controls/certificate.jpg", "certificate"},
        {"controls/button.png", "button"},
        {"controls/Icon.PNG", "icon"},
        {"controls/images/ui-arrows.png", "arrows"},
        {"controls/images/UI-Close.png", "close"},
        {"controls/images/other.png", "other"},
        {"scripts/communication.js",
         "// LMS link\r\nfunction SetStatus(args) {\r\n\tLMS_SetLessonStatus(args);\r\n}\r\n"},
        {"scripts/Player.JS", "var player;\n"},
        {"scripts/file_exists.php", "<?php ?>\n"},
        {"html/NimbrelWebPlayer.html", "<html>player</html>\n"},
        {"html/courseID.htm", "<html>\n'DorvaneID=courseID'\n</html>\n"},
        {"html/index.html", "<html>\n'DorvaneID=courseID'\n</html>\n"},
        {"html/tincan.xml", "<tincan>\n\t\t<name lang=\"en-US\">x</name>\n</tincan>\n"},
    };
    return files;
}

inline std::string WebFile(const std::string& name) {
    for (const auto& [rel, bytes] : WebTemplateFiles()) {
        if (rel == name) return bytes;
    }
    ADD_FAILURE() << "no template " << name;
    return {};
}

inline void WriteWebTemplate(const fs::path& installFolder) {
    for (const auto& [rel, bytes] : WebTemplateFiles()) WriteBytes(installFolder / "web" / rel, bytes);
    SetModifiedDate(installFolder / "web" / "quarvel.exe", 2024, 3, 15);
}

// The assets the refresh copies into a content folder (`content` is its path
// relative to the snapshot root, empty for the root itself).
inline void AddAssets(ExpectedTree& tree, const std::string& content, const std::string& code, bool adl = false) {
    const std::string at = content.empty() ? "" : content + "/";
    const auto add = [&](const std::string& destination, const std::string& source) {
        tree[at + destination] = WebFile(source);
    };
    add("controls/player.css", "controls/player.css");
    add("controls/EXTRA.CSS", "controls/EXTRA.CSS");
    if (adl) add("controls/adl_roadmap_bkgd.jpg", "controls/adl_roadmap_bkgd.jpg");
    add("ims_xml.xsd", "ims_xml.xsd");
    add("controls/backgrnd.jpg", "controls/backgrnd.jpg");
    const auto background = [&](const std::string& kind, const std::string& source) {
        add("controls/" + kind + "_bkgd_" + code + ".jpg", source);
    };
    if (code == "saf") {
        background("qst", "controls/QST_BKGD_SAF.JPG");
        background("test", "controls/Test_Bkgd_Saf.jpg");
    } else if (code == "fir" || code == "fin") {
        background("qst", "controls/qst_bkgd_" + code + ".jpg");
        background("test", "controls/test_bkgd_" + code + ".jpg");
    }
    add("controls/rev_menu_back.jpg", "controls/rev_menu_back.jpg");
    add("controls/certificate.jpg", "controls/certificate.jpg");
    add("scripts/communication.js", "scripts/communication.js");
    add("scripts/Player.JS", "scripts/Player.JS");
    add("html/NimbrelWebPlayer.html", "html/NimbrelWebPlayer.html");
    add("controls/button.png", "controls/button.png");
    add("controls/Icon.PNG", "controls/Icon.PNG");
    add("controls/images/ui-arrows.png", "controls/images/ui-arrows.png");
    add("controls/images/UI-Close.png", "controls/images/UI-Close.png");
}

// ASCII text as UTF-16LE, as the patch log holds it.
inline std::string Utf16Le(const std::string& ascii) {
    std::string out;
    for (const char c : ascii) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

// A patch log holding one run's section with these report lines.
inline std::string PatchLogWith(const std::vector<std::string>& reportLines) {
    std::string section = "\r\n\r\nThe following course bundles were updated 12/07/2026 14:05:\r\n";
    for (const std::string& line : reportLines) section += line + "\r\n";
    return "\xFF\xFE" + Utf16Le(section);
}
