#include "CourseLibrary.h"

#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace courselib {
namespace {

void Write(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Filler(std::size_t size, char seed) {
    std::string bytes(size, '\0');
    std::minstd_rand random(static_cast<unsigned>(seed));
    for (char& c : bytes) c = static_cast<char>('a' + random() % 26);
    for (std::size_t i = 79; i < size; i += 80) bytes[i] = '\n';
    return bytes;
}

const char* const kCopiedElements[] = {"Password",
                                       "Access",
                                       "ID",
                                       "BuildID",
                                       "FileVersion",
                                       "EngineVersion",
                                       "Notice",
                                       "Producer",
                                       "Length",
                                       "Level",
                                       "Background",
                                       "BackgroundTitle",
                                       "SourcePath",
                                       "TotalQuestions",
                                       "ShowFeedBackIcon",
                                       "ShowPrintIcon",
                                       "Print",
                                       "CourseMsg",
                                       "ShowClockIcon",
                                       "EnableSurvey",
                                       "ShowNoteIcon",
                                       "EnableTestSummary",
                                       "EnableFullScreenVideo",
                                       "PlayCustomVersion",
                                       "screenDisplay",
                                       "Email",
                                       "Text",
                                       "QstButton",
                                       "MenuTitle",
                                       "MenuBtn",
                                       "BtnInfo",
                                       "TotalTime",
                                       "CloseTopWindow"};

std::string InterfaceXml(const std::string& title, int topics, bool windowsLineEnds) {
    std::ostringstream x;
    x << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<xmlFile>\n\t<Attributes>\n";
    x << "\t\t<CrsVersion>9.1.0_01_01_2020</CrsVersion>\n";
    x << "\t\t<Title>" << title << "</Title>\n";
    x << "\t\t<Description>Safety & health for " << title << "</Description>\n";
    x << "\t\t<WebDescription></WebDescription>\n";
    x << "\t\t<WebTitle>" << title << "  </WebTitle>\n";
    x << "\t\t<Subtitle>Module 1</Subtitle>\n";
    x << "\t\t<Language>English</Language>\n";
    for (const char* element : kCopiedElements) x << "\t\t<" << element << ">value</" << element << ">\n";
    x << "\t</Attributes>\n\t<ActiveFeatures>\n";
    x << "\t\t<EnableVideoSkip>no</EnableVideoSkip>\n\t\t<EnableReverse>no</EnableReverse>\n";
    x << "\t\t<CertificatePrinting>no</CertificatePrinting>\n\t\t<TimeOut>30</TimeOut>\n";
    x << "\t\t<RecordPartialData>yes</RecordPartialData>\n\t</ActiveFeatures>\n";
    x << "\t<ExamSettings>\n\t\t<PretestQuestions>5</PretestQuestions>\n";
    x << "\t\t<PosttestQuestions>5</PosttestQuestions>\n\t\t<PretestPassingScore>70</PretestPassingScore>\n";
    x << "\t\t<PosttestPassingScore>70</PosttestPassingScore>\n\t\t<AssessmentScore></AssessmentScore>\n";
    x << "\t\t<AssessmentAutoSkip>no</AssessmentAutoSkip>\n\t</ExamSettings>\n\t<Topics>\n";
    for (int i = 0; i < topics; ++i) {
        x << "\t\t<Topic>Topic " << i << "</Topic>\n\t\t<Subtopic>Part " << i << "</Subtopic>\n";
    }
    x << "\t</Topics>\n</xmlFile>\n";
    std::string text = x.str();
    if (windowsLineEnds) {
        std::string crlf;
        for (const char c : text) {
            if (c == '\n') crlf.push_back('\r');
            crlf.push_back(c);
        }
        text = "\xEF\xBB\xBF" + crlf;
    }
    return text;
}

std::string QuestionXml() {
    std::ostringstream q;
    q << "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<questions>\r\n";
    for (int i = 0; q.tellp() < 50 * 1024 - 200; ++i) {
        q << "\t<question id=\"" << i << "\">\r\n\t\t<text>Which answer is right in case " << i
          << "?</text>\r\n\t\t<answer correct=\"yes\">This one</answer>\r\n\t\t<answer>That one</answer>\r\n"
          << "\t</question>\r\n";
    }
    q << "</questions>\r\n";
    return q.str();
}

}  // namespace

std::size_t QuestionFileSize() {
    static const std::size_t size = QuestionXml().size();
    return size;
}

void GenerateInstallation(const fs::path& install, const InstallOptions& options) {
    const fs::path web = install / "web";
    Write(web / "quarvel.exe", Filler(4096, 'q'));
    Write(web / "html" / "courseID.htm",
          "<!DOCTYPE html>\n<html>\n<head>\n<style>\n#player {\n\tposition: absolute;\n\ttop: 10%;\n\tleft: 10%;\n}\n"
          "</style>\n</head>\n<body>\n<script>\nvar query = [\n\t\t\t'DorvaneID=courseID'\n];\n</script>\n"
          "<iframe id=\"player\" src=\"html/NimbrelWebPlayer.html\"></iframe>\n</body>\n</html>\n");
    Write(
        web / "html" / "index.html",
        "<!DOCTYPE html>\n<html>\n<head>\n<script>\nfunction param(name) {\n\tvar parts = location.search.substring(1)"
        ".split('&');\n\tfor (var i = 0; i < parts.length; i++) {\n\t\tvar sParameterName = parts[i].split('=');\n"
        "\t\tif (sParameterName[0] === name)\n\t\t\treturn sParameterName[1].replace(/%20/g, ' ');\n\t}\n}\n"
        "var id = ['DorvaneID=courseID'];\nwindow.location.assign('courseID.htm?' +\n\tlocation.search.substring(1));\n"
        "</script>\n</head>\n<body></body>\n</html>\n");
    Write(web / "html" / "tincan.xml",
          "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<tincan xmlns=\"http://projecttincan.com/tincan.xsd\">\n"
          "\t<activities>\n\t\t<activity id=\"http://example.com/course\"\n\t\t\ttype=\"http://adlnet.gov/expapi/"
          "activities/course\">\n\t\t<name lang=\"en-US\">Name</name>\n\t\t<description lang=\"en-US\">Text"
          "</description>\n\t\t<launch lang=\"en-US\">index.html</launch>\n\t\t</activity>\n\t</activities>\n"
          "</tincan>\n");
    Write(web / "html" / "NimbrelWebPlayer.html", Filler(6000, 'p'));
    Write(web / "xml" / "message_html.xml", Filler(3000, 'm'));
    Write(web / "ims_xml.xsd", Filler(2000, 'x'));
    std::string communication = "// LMS communication\nvar API = null;\n" + Filler(8000, 'c') +
                                "\nfunction LMS_SetLessonStatus(args) {\n\tAPI.LMSSetValue('cmi.core.lesson_status', "
                                "args);\n\tAPI.LMSCommit('');\n}\n";
    Write(web / "scripts" / "communication.js", communication);
    // About 60 asset files and 3 MB in all.
    const char* const scripts[] = {"NimbrelWebPlayer.js",
                                   "jquery-3.3.1.min.js",
                                   "jquery-ui.min.js",
                                   "vod.js",
                                   "player.js",
                                   "menu.js",
                                   "quiz.js",
                                   "video.js",
                                   "glossary.js",
                                   "print.js"};
    char seed = 'a';
    for (const char* name : scripts) Write(web / "scripts" / name, Filler(120 * 1024, seed++));
    for (int i = 0; i < 5; ++i)
        Write(web / "controls" / ("style" + std::to_string(i) + ".css"), Filler(20 * 1024, seed++));
    Write(web / "controls" / "jquery-ui.css", Filler(30 * 1024, seed++));
    for (const char* name : {"backgrnd.jpg", "rev_menu_back.jpg", "certificate.jpg", "adl_roadmap_bkgd.jpg",
                             "qst_bkgd_cou.jpg", "test_bkgd_cou.jpg", "qst_bkgd_cst.jpg", "test_bkgd_cst.jpg"}) {
        Write(web / "controls" / name, Filler(60 * 1024, seed++));
    }
    for (int i = 0; i < 12; ++i)
        Write(web / "controls" / ("button" + std::to_string(i) + ".png"), Filler(30 * 1024, seed++));
    for (int i = 0; i < 18; ++i) {
        Write(web / "controls" / "images" / ("ui-icon" + std::to_string(i) + ".png"), Filler(25 * 1024, seed++));
    }
    Write(web / "controls" / "images" / "other.png", Filler(1024, seed++));
    Write(install / "buttons png" / "arrows" / "gray" / "up png" / "up_exit.png", Filler(2048, 'u'));
    Write(install / "buttons png" / "arrows" / "royal" / "dn png" / "dn_exit.png", Filler(2048, 'd'));

    std::string descriptions;
    for (int i = 0; i < options.descriptionCatalogueLines; ++i) {
        descriptions += "Course" + std::to_string(i) + "\t<p>Course number " + std::to_string(i) +
                        "<ul><li>one</li><li>two</li></ul></p>\n";
    }
    Write(install / "HTML course descriptions.txt", descriptions);
    std::string vod;
    for (int i = 0; i < options.vodCatalogueLines; ++i) {
        const std::string n = std::to_string(i);
        vod += "intro_vid_" + n + "\tPC" + n + "\tVideo " + n + "\t<p>Video " + n + "<ul><li>a</li></ul></p>\n";
    }
    Write(install / "VOD info.txt", vod);
    std::string sheet = "Title\tSubtitle\tFolder\tVideo\tCode\tDescription\n";
    for (int i = 0; i < options.spreadsheetRows; ++i) {
        const std::string n = std::to_string(i);
        sheet += "Course " + n + "\t" + (i % 3 == 0 ? "Part \"" + n + "\"" : "") + "\tcourse" + n + "\tintro_vid_" + n +
                 "\tPC" + n + "\tLearn, (really) learn \x93" + n + "\x94\r\n";
        if (i % 2 == 0) sheet += "  - first point\r\n  - second point, with a comma\r\n";
    }
    Write(install / "spreadsheet.txt", sheet);
}

void GenerateCourses(const fs::path& root, int count, unsigned seed) {
    std::minstd_rand random(seed);
    const std::string question = QuestionXml();
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "course%04d", i);
        const fs::path course = root / name;
        const std::string settings = InterfaceXml("Course " + std::to_string(i), 55, i % 2 == 1);
        Write(course / "xml" / "interface.xml", settings);
        Write(course / "xml" / "question.xml", question);
        switch (random() % 4) {
            case 0:
                break;  // assets in the course folder
            case 1:
                fs::create_directories(course / "course bundle" / name / "media" / "controls");
                break;
            case 2:
                fs::create_directories(course / name / "media" / "controls");
                break;
            case 3:
                fs::create_directories(course / name / "controls");
                break;
        }
        if (i % 3 == 2) {
            // A course last prepared for xAPI: a SCORM run deletes these.
            Write(course / "index.html", "<html><body>" + Filler(6000, 'x') + "</body></html>\n");
            Write(course / "tincan.xml", "<tincan>" + Filler(6000, 't') + "</tincan>\n");
        }
        Write(
            course / "imsmanifest.xml",
            "<?xml version=\"1.0\"?>\n<manifest>\n\t\t\t<title>Course " + std::to_string(i) +
                "</title>\n\t\t\t\t\t\t<langstring>Course</langstring>\n\t\t\t\t\t\t\t<![CDATA[Old]]>\n</manifest>\n");
    }
}

void GenerateVideos(const fs::path& root, int count) {
    for (int i = 0; i < count; ++i) {
        const fs::path folder = root / ("group" + std::to_string(i % 10)) / ("set" + std::to_string(i % 3));
        const std::string title = "intro_vid_" + std::to_string(i) + (i % 2 ? "_sp" : "_en");
        Write(folder / (title + ".mp4"), Filler(512, 'v'));
        Write(folder / (title + ".vtt"), "WEBVTT\n\n00:00.000 --> 00:02.000\nHello\n");
    }
}

}  // namespace courselib
