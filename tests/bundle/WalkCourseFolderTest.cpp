#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "bundle/BundleTree.h"
#include "support/TestSupport.h"

namespace {

// A settings file as authoring tools write it: UTF-8 mark, CR LF.
std::string BundleFile(const std::string& extraAttributes = "") {
    return "\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n<xmlFile>\r\n\t<Attributes>\r\n"
           "\t\t<CrsVersion>1.0</CrsVersion>\r\n\t\t<WebTitle>Fire</WebTitle>\r\n" +
           extraAttributes +
           "\t</Attributes>\r\n\t<ActiveFeatures>\r\n\t</ActiveFeatures>\r\n\t<ExamSettings>\r\n"
           "\t\t<PretestQuestions>3</PretestQuestions>\r\n\t</ExamSettings>\r\n</xmlFile>\r\n";
}

// That file after the rewrite with the dialog's defaults.
std::string RewrittenBundleFile(const std::string& courseID, const std::string& pretestQuestions = "0",
                                const std::string& extraAttributes = "") {
    const bool vod = courseID.find("_vid_") != std::string::npos;
    return "<?xml version=\"1.0\"?>\n<xmlFile>\n\t<Attributes>\n\t<CrsVersion>10.7.0_03_15_2024</CrsVersion>\n"
           "\t\t<WebTitle>Fire</WebTitle>\n" +
           extraAttributes + "\t\t<isHRS>false</isHRS>\n" +
           (vod ? "" : "\t<ProductCode>" + courseID + "</ProductCode>\n") +
           "\t</Attributes>\n\t<ActiveFeatures>\n\t<ScreenSize>normal</ScreenSize>\n\t<ShowNavBar>no</ShowNavBar>\n"
           "\t<Accessibility>no</Accessibility>\n\t<SkipCongratsScreen>no</SkipCongratsScreen>\n"
           "\t</ActiveFeatures>\n\t<ExamSettings>\n\t<PretestQuestions>" +
           pretestQuestions +
           "</PretestQuestions>\n\t<PosttestRetakeCount>0</PosttestRetakeCount>\n"
           "\t</ExamSettings>\n</xmlFile>\n";
}

const std::string kMinimalFileTrue =
    "\xEF\xBB\xBF<xmlFile>\r\n\t<Attributes>\r\n\t\t<isHRS>true</isHRS>\r\n\t</Attributes>\r\n</xmlFile>\r\n";

class ProgressUser : public FakeUser {
public:
    std::vector<std::pair<int, std::string>> progress;
    Progress ReportProgress(int done, const std::string& current) override {
        progress.emplace_back(done, current);
        return progress.size() == stopAfter ? Progress::Stop : Progress::Continue;
    }
    std::size_t stopAfter = 0;  // 0: never ask for a stop
};

class WalkCourseFolderTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        install = MakeInstall(dir());
        WriteWebTemplate(install.installFolder);
        fs::create_directories(courses());
        user.folder = courses().string();
        user.settings = DefaultOkSettings();
    }
    fs::path courses() const { return dir() / "courses"; }
    std::string Course(const std::string& relative) const { return (courses() / relative).string(); }
    fs::path LogPath() const { return install.installFolder / "nb_logfile.txt"; }
    void Run() {
        QuarvelRun run(user, clock, install.store());
        EXPECT_EQ(run.RunSelectedJob(), RunOutcome::Ran);
    }
    // Every message but the closing one.
    std::vector<std::string> BundleMessages() const {
        std::vector<std::string> texts;
        for (const ShownMessage& m : user.messages) {
            if (m.caption != "Course Bundle Patch Status") texts.push_back(m.caption + ": " + m.text);
        }
        return texts;
    }

    TestInstall install;
    ProgressUser user;
    platform::FixedClock clock{TestTime()};
};

std::string PatchedCommunicationScript(ExitStatusMode mode) {
    const std::string head = "// LMS link\nfunction SetStatus(args) {\n\tLMS_SetLessonStatus(args);\n";
    switch (mode) {
        case ExitStatusMode::ScormConformant:
            return WebFile("scripts/communication.js");
        case ExitStatusMode::CompletedIncomplete:
            return head +
                   "\t\t\t\tif (args == 'passed')\n\t\t\t\t\targs = 'completed';\n"
                   "\t\t\t\telse if (args == 'failed')\n\t\t\t\t\targs = 'incomplete';\n\n}\n";
        case ExitStatusMode::PassedIncomplete:
            return head + "\t\t\t\tif (args == 'failed')\n\t\t\t\t\targs = 'incomplete';\n\n}\n";
        case ExitStatusMode::PassedNoPosttest:
            return head + "\t\t\t\tif (args == 'completed')\n\t\t\t\t\targs = 'passed';\n\n}\n";
    }
    return {};
}

TEST_F(WalkCourseFolderTest, PatchesABundleForEachTestModePackageTypeAndExitStatus) {
    struct Case {
        const char* name;
        TestMode testMode;
        PackageType packageType;
        ExitStatusMode exitStatus;
    };
    const Case cases[] = {
        {"Pretest SCORM conformant", TestMode::Pretest, PackageType::Scorm12, ExitStatusMode::ScormConformant},
        {"Assessment xAPI completed", TestMode::Assessment, PackageType::Xapi, ExitStatusMode::CompletedIncomplete},
        {"Pretest xAPI passed/incomplete", TestMode::Pretest, PackageType::Xapi, ExitStatusMode::PassedIncomplete},
        {"Assessment SCORM no posttest", TestMode::Assessment, PackageType::Scorm12, ExitStatusMode::PassedNoPosttest},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(courses());
        fs::remove(LogPath());
        user.messages.clear();
        user.progress.clear();
        const fs::path course = courses() / "Fire_101";
        WriteBytes(course / "xml" / "interface.xml", BundleFile());
        WriteBytes(course / "xml" / "question.xml", "\xEF\xBB\xBF<q>\r\n</q>\r\n");
        for (const char* old : {"index.html", "tincan.xml", "imsmanifest.xml"}) WriteBytes(course / old, "old");
        WriteBytes(course / "scripts" / "file_exists.php", "<?php ?>");
        WriteBytes(course / "fire_101.bmp", "bmp");
        WriteBytes(course / "other.bmp", "other bmp");
        WriteBytes(course / "controls" / "old.css", "old css");

        CourseSettings s = DefaultOkSettings();
        s.testMode = c.testMode;
        s.pretestQuestionCount = 4;
        s.packageType = c.packageType;
        s.exitStatusMode = c.exitStatus;
        s.deleteBmp = true;
        user.settings = s;
        Run();

        ExpectedTree expected = {
            {"Fire_101/xml/interface.xml",
             RewrittenBundleFile("fire_101", c.testMode == TestMode::Pretest ? "4" : "0")},
            {"Fire_101/xml/question.xml", "<q>\n</q>\n"},
            {"Fire_101/xml/message_html.xml", WebFile("xml/message_html.xml")},
            {"Fire_101/fire_101.htm", std::nullopt},
            {"Fire_101/other.bmp", "other bmp"},
            {"Fire_101/controls/old.css", "old css"},
        };
        if (c.packageType == PackageType::Scorm12) {
            expected["Fire_101/imsmanifest.xml"] = std::nullopt;
        } else {
            expected["Fire_101/index.html"] = std::nullopt;
            expected["Fire_101/tincan.xml"] = std::nullopt;
        }
        AddAssets(expected, "Fire_101", "fir");
        expected["Fire_101/scripts/communication.js"] = PatchedCommunicationScript(c.exitStatus);
        ExpectTree(courses(), expected);
        EXPECT_NE(ReadBytes(course / "fire_101.htm"), "");
        EXPECT_EQ(ReadBytes(LogPath()), PatchLogWith({Course("Fire_101/xml")}));
        EXPECT_TRUE(BundleMessages().empty());
        EXPECT_EQ(user.progress, (std::vector<std::pair<int, std::string>>{{1, Course("Fire_101")}}));
    }
}

TEST_F(WalkCourseFolderTest, AssetsGoIntoTheContentFolderOfEachLayout) {
    struct Case {
        const char* name;
        std::vector<std::string> folders;  // made before the run
        std::string content;               // as on disk
        std::vector<std::string> notes;    // failed copies, in the order tried
    };
    const std::string n = Course("Fire_101") + "/fire_101";
    const Case cases[] = {
        {"course folder", {}, "Fire_101", {}},
        {"course bundle",
         {"Fire_101/Course Bundle/fire_101/media/controls"},
         "Fire_101/Course Bundle/fire_101/media",
         {}},
        {"name/media", {"Fire_101/FIRE_101/media/controls"}, "Fire_101/FIRE_101/media", {}},
        {"name without controls",
         {"Fire_101/fire_101"},
         "Fire_101/fire_101",
         {n + "/controls/EXTRA.CSS", n + "/controls/player.css", n + "/controls/backgrnd.jpg",
          n + "/controls/qst_bkgd_fir.jpg", n + "/controls/test_bkgd_fir.jpg", n + "/controls/rev_menu_back.jpg",
          n + "/controls/certificate.jpg", n + "/controls/button.png", n + "/controls/Icon.PNG",
          n + "/controls/images/ui-arrows.png", n + "/controls/images/UI-Close.png"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(courses());
        fs::remove(LogPath());
        WriteBytes(courses() / "Fire_101" / "xml" / "interface.xml", BundleFile());
        for (const std::string& folder : c.folders) fs::create_directories(courses() / folder);
        Run();

        ExpectedTree expected = {
            {"Fire_101/xml/interface.xml", RewrittenBundleFile("fire_101")},
            {"Fire_101/xml/message_html.xml", WebFile("xml/message_html.xml")},
            {"Fire_101/fire_101.htm", std::nullopt},
            {"Fire_101/imsmanifest.xml", std::nullopt},
        };
        if (c.notes.empty()) {
            AddAssets(expected, c.content, "fir");
        } else {
            for (const char* rel :
                 {"ims_xml.xsd", "scripts/communication.js", "scripts/Player.JS", "html/NimbrelWebPlayer.html"}) {
                expected[c.content + "/" + rel] = WebFile(rel);
            }
        }
        ExpectTree(courses(), expected);
        // The course folder always gets a controls folder.
        EXPECT_TRUE(fs::is_directory(courses() / "Fire_101" / "controls"));
        std::vector<std::string> report = {Course("Fire_101/xml")};
        for (const std::string& note : c.notes) {
            // The images folder cannot be made without its controls folder: that is
            // named once, before the copies into it that fail.
            if (note.ends_with("/controls/images/ui-arrows.png")) {
                report.push_back("Could not create the folder '" + fs::path(note).parent_path().string() +
                                 "': No such file or directory.");
            }
            report.push_back("Could not copy to '" + note + "': No such file or directory.");
        }
        EXPECT_EQ(ReadBytes(LogPath()), PatchLogWith(report));
    }
}

TEST_F(WalkCourseFolderTest, VodPackagesGetASettingsFileAndOnlyItsRewrite) {
    fs::create_directories(courses() / "abc_vid_01" / "media");
    WriteBytes(courses() / "abc_vid_01" / "media" / "clip.mp4", "mp4");
    fs::create_directories(courses() / "ABC_VID_02" / "media");
    fs::create_directories(courses() / "x_vid_1" / "a" / "b" / "c");
    WriteBytes(courses() / "safety_vid_3" / "xml" / "interface.xml", BundleFile());
    WriteBytes(courses() / "Plain" / "xml" / "interface.xml", BundleFile());
    CourseSettings s = DefaultOkSettings();
    s.enableHrSetting = true;
    s.isHr = true;
    user.settings = s;
    Run();

    const std::string rewrittenMinimal =
        "<xmlFile>\n\t<Attributes>\n\t\t<isHRS>true</isHRS>\n\t</Attributes>\n</xmlFile>\n";
    std::string rewrittenVod = RewrittenBundleFile("safety_vid_3");
    rewrittenVod.replace(rewrittenVod.find("false"), 5, "true");
    std::string rewrittenPlain = RewrittenBundleFile("plain");
    rewrittenPlain.replace(rewrittenPlain.find("false"), 5, "true");
    ExpectedTree expected = {
        {"abc_vid_01/xml/interface.xml", rewrittenMinimal},
        {"abc_vid_01/media/clip.mp4", "mp4"},
        {"safety_vid_3/xml/interface.xml", rewrittenVod},
        // The package folder gets its file before it is walked, so it is rewritten in the same run;
        // x_vid_1/a had been listed already when its file was made two levels below.
        {"x_vid_1/xml/interface.xml", rewrittenMinimal},
        {"x_vid_1/a/xml/interface.xml", kMinimalFileTrue},
        {"Plain/xml/interface.xml", rewrittenPlain},
        {"Plain/xml/message_html.xml", WebFile("xml/message_html.xml")},
        {"Plain/imsmanifest.xml", std::nullopt},
        {"Plain/plain.htm", std::nullopt},
    };
    AddAssets(expected, "Plain", "pla");
    ExpectTree(courses(), expected);
    EXPECT_EQ(ReadBytes(LogPath()), PatchLogWith({Course("Plain/xml")}));
    EXPECT_EQ(
        user.progress,
        (std::vector<std::pair<int, std::string>>{
            {1, Course("abc_vid_01")}, {2, Course("Plain")}, {3, Course("safety_vid_3")}, {4, Course("x_vid_1")}}));
}

TEST_F(WalkCourseFolderTest, AnUnreadableVodSettingsFileIsLeftAlone) {
    const fs::path file = courses() / "abc_vid_01" / "xml" / "interface.xml";
    WriteBytes(file, "<xmlFile>\n");
    fs::permissions(file, fs::perms::all, fs::perm_options::remove);
    if (::access(file.c_str(), R_OK) == 0) GTEST_SKIP() << "running with rights that read every file";
    Run();
    fs::permissions(file, fs::perms::owner_read, fs::perm_options::add);
    EXPECT_EQ(ReadBytes(file), "<xmlFile>\n");
    EXPECT_EQ(ReadBytes(LogPath()), PatchLogWith({"Could not read '" + file.string() + "': Permission denied."}));
}

TEST_F(WalkCourseFolderTest, SeriesTitlesAndRecordValuesCarryOverToTheNextBundle) {
    const std::string first = "\t\t<Subtitle>Module 2</Subtitle>\r\n\t\t<Description>A & B</Description>\r\n";
    const std::string second = "\t\t<WebDescription></WebDescription>\r\n";
    WriteBytes(courses() / "safety__part2" / "xml" / "interface.xml", BundleFile(first));
    WriteBytes(courses() / "zz__part3" / "xml" / "interface.xml", BundleFile(second));
    CourseSettings s = DefaultOkSettings();
    s.packageType = PackageType::Xapi;
    user.settings = s;
    Run();
    EXPECT_EQ(ReadBytes(courses() / "safety__part2" / "xml" / "interface.xml"),
              RewrittenBundleFile("safety__part2", "0",
                                  "\t\t<Subtitle>Module 2</Subtitle>\n\t\t<Description>A and B</Description>\n"));
    // The second file has no Description: its empty WebDescription takes the first bundle's.
    EXPECT_EQ(ReadBytes(courses() / "zz__part3" / "xml" / "interface.xml"),
              RewrittenBundleFile("zz__part3", "0", "\t<WebDescription>A and B</WebDescription>\n"));
    // The writers see the series title; the settings files keep the title alone. The second
    // bundle has no Subtitle of its own and carries the first one's.
    const std::string title = "<name lang=\"en-US\">Fire: Module 2</name>";
    EXPECT_NE(ReadBytes(courses() / "safety__part2" / "tincan.xml").find(title), std::string::npos);
    EXPECT_NE(ReadBytes(courses() / "zz__part3" / "tincan.xml").find(title), std::string::npos);
}

std::string Utf16BeBytes(const std::string& ascii) {
    std::string out;
    for (const char ch : ascii) {
        out.push_back('\0');
        out.push_back(ch);
    }
    return out;
}

TEST_F(WalkCourseFolderTest, SettingsFilesThatAreNotUtf8AreRefusedAndLeftAlone) {
    const std::pair<std::string, std::string> refused[] = {
        {"A_Utf16LE", "\xFF\xFE" + Utf16LeBytes("<?xml?>\r\n<xmlFile>\r\n")},
        {"B_Utf16BE", "\xFE\xFF" + Utf16BeBytes("<?xml?>\r\n<xmlFile>\r\n")},
        {"C_Latin1", "<?xml?>\n\t<Title>Caf\xE9</Title>\n"},
        {"D_Nul", std::string("<?xml?>\n\t<Title>\0</Title>\n", 24)},
    };
    for (const auto& [name, bytes] : refused) {
        WriteBytes(courses() / name / "xml" / "interface.xml", bytes);
        // A bundle inside the refused xml folder is not reached.
        WriteBytes(courses() / name / "xml" / "inner" / "xml" / "interface.xml", BundleFile());
    }
    WriteBytes(courses() / "E_Good" / "xml" / "interface.xml", BundleFile());
    const auto before = SnapshotTree(courses());
    Run();

    for (const auto& [name, bytes] : refused) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ReadBytes(courses() / name / "xml" / "interface.xml"), bytes);
        EXPECT_EQ(ReadBytes(courses() / name / "xml" / "inner" / "xml" / "interface.xml"), BundleFile());
        EXPECT_EQ(fs::directory_iterator(courses() / name) != fs::directory_iterator(), true);
        EXPECT_FALSE(fs::exists(courses() / name / "imsmanifest.xml"));
    }
    EXPECT_EQ(ReadBytes(courses() / "E_Good" / "xml" / "interface.xml"), RewrittenBundleFile("e_good"));
    const std::vector<std::string> notes = {"a_utf16le", "b_utf16be", "c_latin1", "d_nul"};
    std::vector<std::string> report, boxes;
    for (const std::string& id : notes) {
        report.push_back("Course needs to be converted to UTF-8 in Build: '" + id + "'.");
        boxes.push_back("Course Error: Course needs to be converted to UTF-8 in Build: '" + id + "'.");
    }
    report.push_back(Course("E_Good/xml"));
    EXPECT_EQ(ReadBytes(LogPath()), PatchLogWith(report));
    EXPECT_EQ(BundleMessages(), boxes);
    for (const ShownMessage& m : user.messages) EXPECT_EQ(m.style, MessageStyle::Stop);
    // Only the good bundle's files changed.
    size_t unchanged = 0;
    const auto after = SnapshotTree(courses());
    for (const auto& file : before) {
        if (std::find(after.begin(), after.end(), file) != after.end()) ++unchanged;
    }
    EXPECT_EQ(unchanged, before.size() - 1);
}

TEST_F(WalkCourseFolderTest, NamesAreFoundInAnyLetterCase) {
    const fs::path course = courses() / "Safe_Course";
    WriteBytes(course / "XML" / "Interface.XML", BundleFile());
    WriteBytes(course / "XML" / "Question.XML", "<q>\r\n");
    WriteBytes(course / "Scripts" / "File_Exists.PHP", "<?php ?>");
    WriteBytes(course / "Controls" / "Images" / "UI-ARROWS.PNG", "old arrows");
    WriteBytes(course / "safe_course.BMP", "bmp");
    // A course for another player, its marker spelled in capitals, is left alone.
    WriteBytes(courses() / "Other" / "FSSCORM.JS", "js");
    WriteBytes(courses() / "Other" / "xml" / "interface.xml", BundleFile());
    CourseSettings s = DefaultOkSettings();
    s.deleteBmp = true;
    user.settings = s;
    Run();

    ExpectedTree expected = {
        {"Safe_Course/XML/Interface.XML", RewrittenBundleFile("safe_course")},
        {"Safe_Course/XML/Question.XML", "<q>\n"},
        {"Safe_Course/XML/message_html.xml", WebFile("xml/message_html.xml")},
        {"Safe_Course/imsmanifest.xml", std::nullopt},
        {"Safe_Course/safe_course.htm", std::nullopt},
        {"Other/FSSCORM.JS", "js"},
        {"Other/xml/interface.xml", BundleFile()},
    };
    ExpectedTree assets;
    AddAssets(assets, "", "saf");
    for (auto& [rel, bytes] : assets) {
        std::string onDisk = rel;
        for (const auto& [from, to] :
             {std::pair<std::string, std::string>{"controls/images/ui-arrows.png", "Controls/Images/UI-ARROWS.PNG"},
              {"controls/images/", "Controls/Images/"},
              {"controls/", "Controls/"},
              {"scripts/", "Scripts/"}}) {
            if (onDisk.rfind(from, 0) == 0) {
                onDisk = to + onDisk.substr(from.size());
                break;
            }
        }
        expected["Safe_Course/" + onDisk] = bytes;
    }
    ExpectTree(courses(), expected);
    EXPECT_EQ(ReadBytes(LogPath()), PatchLogWith({Course("Safe_Course/XML")}));
}

TEST_F(WalkCourseFolderTest, ASecondRunGivesTheSameFiles) {
    WriteBytes(courses() / "Fire_101" / "xml" / "interface.xml", BundleFile());
    WriteBytes(courses() / "Fire_101" / "xml" / "question.xml", "\xEF\xBB\xBF<q>\r\n");
    WriteBytes(courses() / "hrs_fin_101" / "fin" / "media" / "controls" / "keep.txt", "keep");
    WriteBytes(courses() / "hrs_fin_101" / "xml" / "interface.xml", BundleFile());
    fs::create_directories(courses() / "abc_vid_01");
    CourseSettings s = DefaultOkSettings();
    s.exitStatusMode = ExitStatusMode::PassedIncomplete;
    user.settings = s;
    Run();
    const auto first = SnapshotTree(courses());
    Run();
    EXPECT_EQ(SnapshotTree(courses()), first);
}

TEST_F(WalkCourseFolderTest, LinksBackToWalkedFoldersAreNotFollowedAgain) {
    WriteBytes(courses() / "Loop_Course" / "xml" / "interface.xml", BundleFile());
    fs::create_directory_symlink(courses(), courses() / "Loop_Course" / "back");
    fs::create_directory_symlink(courses() / "Loop_Course", courses() / "Zlink");
    Run();
    EXPECT_EQ(ReadBytes(LogPath()), PatchLogWith({Course("Loop_Course/xml")}));
    EXPECT_EQ(ReadBytes(courses() / "Loop_Course" / "xml" / "interface.xml"), RewrittenBundleFile("loop_course"));
}

TEST_F(WalkCourseFolderTest, VeryDeepTreesAreWalked) {
    // As deep as the path length limit allows, up to 2000 levels. The tree is
    // made and removed level by level through folder handles: by path, each
    // step would search the whole path again.
    const std::size_t room =
        4000 - courses().string().size() - std::string("/Deep/controls/images/ui-arrows.png").size();
    const std::size_t levels = std::min<std::size_t>(2000, room / 2);
    ASSERT_GT(levels, 1500u);
    std::string relative;
    int folder = ::open(courses().c_str(), O_RDONLY | O_DIRECTORY);
    for (std::size_t i = 0; i <= levels + 1; ++i) {
        const char* name = i < levels ? "d" : i == levels ? "Deep" : "xml";
        ASSERT_EQ(::mkdirat(folder, name, 0755), 0);
        const int next = ::openat(folder, name, O_RDONLY | O_DIRECTORY);
        ::close(folder);
        folder = next;
        relative += std::string(name) + "/";
    }
    const std::string file = BundleFile();
    const int out = ::openat(folder, "interface.xml", O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(::write(out, file.data(), file.size()), static_cast<ssize_t>(file.size()));
    ::close(out);
    ::close(folder);

    Run();
    EXPECT_EQ(ReadBytes(courses() / (relative + "interface.xml")), RewrittenBundleFile("deep"));
    EXPECT_EQ(ReadBytes(LogPath()), PatchLogWith({Course(relative.substr(0, relative.size() - 1))}));
    EXPECT_EQ(std::system(("rm -rf '" + (courses() / "d").string() + "'").c_str()), 0);
}

TEST_F(WalkCourseFolderTest, LitterOfInterruptedRunsIsRemovedFromWalkedFolders) {
    WriteBytes(courses() / ".quarvel-a1B2c3.tmp", "litter");
    WriteBytes(courses() / ".quarvel-abc.tmp", "not ours");
    WriteBytes(courses() / "notes.tmp", "user file");
    fs::create_directories(courses() / ".quarvel-dddddd.tmp");
    WriteBytes(courses() / "Fire_101" / ".quarvel-zzzzzz.tmp", "litter");
    WriteBytes(courses() / "Fire_101" / "xml" / ".quarvel-QQQQQQ.tmp", "litter");
    WriteBytes(courses() / "Fire_101" / "xml" / "interface.xml", BundleFile());
    Run();
    EXPECT_FALSE(fs::exists(courses() / ".quarvel-a1B2c3.tmp"));
    EXPECT_FALSE(fs::exists(courses() / "Fire_101" / ".quarvel-zzzzzz.tmp"));
    EXPECT_FALSE(fs::exists(courses() / "Fire_101" / "xml" / ".quarvel-QQQQQQ.tmp"));
    EXPECT_EQ(ReadBytes(courses() / ".quarvel-abc.tmp"), "not ours");
    EXPECT_EQ(ReadBytes(courses() / "notes.tmp"), "user file");
    EXPECT_TRUE(fs::is_directory(courses() / ".quarvel-dddddd.tmp"));
}

TEST_F(WalkCourseFolderTest, OnlyXmlFoldersBelowTheStartingFolderAreBundles) {
    // A settings file in a folder of another name is no bundle: nothing is written beside it.
    WriteBytes(courses() / "Odd" / "settings" / "interface.xml", BundleFile());
    WriteBytes(courses() / "Fire_101" / "xml" / "interface.xml", BundleFile());
    const auto before = SnapshotTree(courses());
    // Starting in the xml folder itself patches nothing: the starting folder is never tested.
    user.folder = Course("Fire_101/xml");
    Run();
    EXPECT_EQ(SnapshotTree(courses()), before);
    EXPECT_EQ(ReadBytes(LogPath()), PatchLogWith({}));

    fs::remove(LogPath());
    user.folder = Course("Fire_101");
    Run();
    EXPECT_EQ(ReadBytes(courses() / "Fire_101" / "xml" / "interface.xml"), RewrittenBundleFile("fire_101"));
    EXPECT_EQ(ReadBytes(courses() / "Odd" / "settings" / "interface.xml"), BundleFile());
    EXPECT_FALSE(fs::exists(courses() / "Odd" / "controls"));
    EXPECT_EQ(ReadBytes(LogPath()), PatchLogWith({Course("Fire_101/xml")}));
}

TEST_F(WalkCourseFolderTest, TheBatchProgramPatchesTheTree) {
    WriteBytes(courses() / "Fire_101" / "xml" / "interface.xml", BundleFile());
    const std::string command = "QUARVEL_CONFIG='" + install.storeFile.string() +
                                "' '" QUARVEL_BATCH "' testMode=Assessment pretestQuestionCount=7 '" +
                                courses().string() + "' > /dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(ReadBytes(courses() / "Fire_101" / "xml" / "interface.xml"), RewrittenBundleFile("fire_101", "0"));
    ExpectedTree expected = {
        {"Fire_101/xml/interface.xml", RewrittenBundleFile("fire_101", "0")},
        {"Fire_101/xml/message_html.xml", WebFile("xml/message_html.xml")},
        {"Fire_101/fire_101.htm", std::nullopt},
        {"Fire_101/imsmanifest.xml", std::nullopt},
    };
    AddAssets(expected, "Fire_101", "fir");
    ExpectTree(courses(), expected);
}

}  // namespace
