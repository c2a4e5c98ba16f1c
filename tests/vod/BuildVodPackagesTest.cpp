#include "catalogues/VodInfoLookup.h"
#include "support/RunState.h"
#include "support/TestSupport.h"
#include "vod/BuildVodPackages.h"

namespace {

using Files = std::vector<std::pair<std::string, std::string>>;

// clang-format off
// A SCORM 1.2 manifest of a VOD package as the builder has it written; the
// player script is dated 5 March 2026.
std::string VodManifest(const std::string& productCode, const std::string& id, const std::string& title,
                        const std::string& language, const std::string& description) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n\n"
           "<manifest identifier=\"" + productCode + "\" version=\"5.14\"\n"
           "\txmlns=\"http://www.imsproject.org/xsd/imscp_rootv1p1p2\"\n"
           "\txmlns:adlcp=\"http://www.adlnet.org/xsd/adlcp_rootv1p2\"\n"
           "\txmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"\n"
           "\txmlns:adlmd=\"http://www.imsglobal.org/xsd/imsmd_rootv1p2p1\"\n\n"
           "\t\txsi:schemaLocation=\"http://www.imsproject.org/xsd/imscp_rootv1p1p2 imscp_rootv1p1p2.xsd\n"
           "\t\thttp://www.imsglobal.org/xsd/imsmd_rootv1p2p1 imsmd_rootv1p2p1.xsd\n"
           "\t\thttp://www.adlnet.org/xsd/adlcp_rootv1p2 adlcp_rootv1p2.xsd\" >\n\n"
           "<metadata>\n\t<schema>ADL SCORM</schema>\n\t<schemaversion>1.2</schemaversion>\n</metadata>\n\n"
           "<organizations default=\"" + id + "_org\">\n"
           "\t<organization identifier=\"" + id + "_org\">\n"
           "\t\t\t<title>" + title + "</title>\n"
           "\t\t<item identifier=\"" + id + "_03052026\" identifierref=\"DORVANE03052026\">\n"
           "\t\t\t<title>" + title + "</title>\n"
           "\t\t\t<adlcp:masteryscore>0</adlcp:masteryscore>\n"
           "\t\t</item>\n\t</organization>\n</organizations>\n\n<resources>\n"
           "\t<resource identifier=\"DORVANE03052026\" adlcp:scormtype=\"sco\" type=\"webcontent\" href=\"" + id +
           ".htm\">\n"
           "\t\t<metadata>\n"
           "\t\t\t<lom xmlns=\"http://www.imsglobal.org/xsd/imsmd_rootv1p2p1\">\n"
           "\t\t\t\t<general>\n\t\t\t\t\t<title>\n"
           "\t\t\t\t\t\t<langstring>" + title + "</langstring>\n"
           "\t\t\t\t\t</title>\n"
           "\t\t\t\t\t<language>" + language + "</language>\n"
           "\t\t\t\t\t<description>\n\t\t\t\t\t\t<langstring>\n"
           "\t\t\t\t\t\t\t<![CDATA[" + description + "]]>\n"
           "\t\t\t\t\t\t</langstring>\n\t\t\t\t\t</description>\n\t\t\t\t</general>\n\t\t\t</lom>\n"
           "\t\t</metadata>\n"
           "\t\t<file href=\"" + id + ".htm\" />\n\t</resource>\n</resources>\n</manifest>\n";
}
// clang-format on

const char kPageTemplate[] =
    "\xEF\xBB\xBF<html>\r\n<style>\r\n\tmargin-top: 3px;\r\n\tleft: 1px;\r\n</style>\r\n<script>\r\n"
    "\tvar id = 'DorvaneID=courseID';\r\n</script>\r\n</html>\r\n";

std::string CoursePage(const std::string& id) {
    return "<html>\n<style>\n\ttop:  50%;\n\tleft:  50%;\n</style>\n<script>\n\t\t\t'DorvaneID=" + id +
           "'\n</script>\n</html>\n";
}

std::string VodInterfaceFile(const std::string& isHrsLine) {
    return "\xEF\xBB\xBF<xmlFile>\r\n\t<Attributes>\r\n" + isHrsLine + "\r\n\t</Attributes>\r\n</xmlFile>\r\n";
}

const char kHrsTrue[] = "\t\t<isHRS>true</isHRS>";
const char kHrsFalse[] = "\t\t<isHRS>false</isHRS>";

class BuildVodPackagesTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        install = MakeInstall(dir());
        const fs::path& in = install.installFolder;
        WriteBytes(in / "web/html/NimbrelWebPlayer.html", "player page");
        WriteBytes(in / "web/html/courseID.htm", kPageTemplate);
        for (const char* script :
             {"NimbrelWebPlayer.js", "communication.js", "jquery-3.3.1.min.js", "jquery-ui.min.js", "vod.js"}) {
            WriteBytes(in / "web/scripts" / script, std::string("// ") + script);
        }
        SetModifiedDate(in / "web/scripts/NimbrelWebPlayer.js", 2026, 3, 5);
        WriteBytes(in / "web/controls/jquery-ui.css", "css");
        WriteBytes(in / "buttons png/arrows/gray/up png/up_exit.png", "up\x89PNG");
        WriteBytes(in / "buttons png/arrows/royal/dn png/dn_exit.png", "dn\x89PNG");
        // The first line's fields are trimmed; an empty product code takes the key.
        WriteBytes(in / "VOD info.txt",
                   "\xEF\xBB\xBF safety_vid_sp__01 \tSAF-SP\tSeguridad: B\xC3\xA1sico\t"
                   "<p>Hola &lt;b&gt;x&lt;/b&gt;<ul><li>uno</li></ul></p>\r\n"
                   "FIRE_vid_en__02\t\tFire 100% & Co\t<p>Fire</p>\r\n");

        // Two levels deep, listed in this order: a_level1/b_level2 first, then
        // a_level1's own video, then the top folder's video.
        WriteBytes(dir() / "src/a_level1/b_level2/Safety_VID_SP__01.mp4", "video 1");
        WriteBytes(dir() / "src/a_level1/b_level2/Safety_VID_SP__01.vtt", "WEBVTT 1");
        WriteBytes(dir() / "src/a_level1/intro_vid_plain.mp4", "video 2");
        WriteBytes(dir() / "src/a_level1/intro_vid_plain.vtt", "WEBVTT 2");
        WriteBytes(dir() / "src/a_level1/readme.txt", "not a video");
        WriteBytes(dir() / "src/fire_vid_en__02.MP4", "video 3");
        WriteBytes(dir() / "src/notes.txt", "");
        // A folder named like a video is walked, not packaged; it is listed
        // after the top folder's first file.
        WriteBytes(dir() / "src/video_vid_dir.mp4/z_vid_late.mp4", "video 4");
        // An older package of the first video, whose isHRS line is kept.
        WriteBytes(Packages() / "Safety_VID_SP__01/xml/interface.xml", VodInterfaceFile(kHrsTrue));

        CourseSettings s = DefaultOkSettings();
        s.createVodPackages = true;
        settings = s;
    }
    fs::path Packages() const { return install.installFolder / "vod packages"; }

    Files CommonFiles(const std::string& id) const {
        return {{"controls/dn_exit.png", "dn\x89PNG"},
                {"controls/jquery-ui.css", "css"},
                {"controls/up_exit.png", "up\x89PNG"},
                {"html/NimbrelWebPlayer.html", "player page"},
                {id + ".htm", CoursePage(id)},
                {"scripts/NimbrelWebPlayer.js", "// NimbrelWebPlayer.js"},
                {"scripts/communication.js", "// communication.js"},
                {"scripts/jquery-3.3.1.min.js", "// jquery-3.3.1.min.js"},
                {"scripts/jquery-ui.min.js", "// jquery-ui.min.js"},
                {"scripts/vod.js", "// vod.js"}};
    }
    Files ExpectedPackages() const {
        Files files;
        auto add = [&files](const std::string& folder, Files package) {
            for (auto& [name, bytes] : package) files.emplace_back(folder + "/" + name, std::move(bytes));
        };
        Files safety = CommonFiles("safety_vid_sp__01");
        safety.emplace_back("imsmanifest.xml", VodManifest("SAF-SP", "safety_vid_sp__01", "Seguridad: B\xC3\xA1sico",
                                                           "es", "<p>Hola <b>x</b><ul><li>uno</li></ul></p>"));
        safety.emplace_back("video/vtt/Safety_VID_SP__01.vtt", "WEBVTT 1");
        safety.emplace_back("xml/interface.xml", VodInterfaceFile(kHrsTrue));
        add("Safety_VID_SP__01", safety);

        // Not catalogued, no marker: the defaults, and the language of the video before.
        Files intro = CommonFiles("intro_vid_plain");
        intro.emplace_back("imsmanifest.xml",
                           VodManifest("intro_vid_plain", "intro_vid_plain", "intro_vid_plain", "es", ""));
        intro.emplace_back("video/vtt/intro_vid_plain.vtt", "WEBVTT 2");
        intro.emplace_back("xml/interface.xml", VodInterfaceFile(kHrsFalse));
        add("intro_vid_plain", intro);

        Files fire = CommonFiles("fire_vid_en__02");
        fire.emplace_back("imsmanifest.xml",
                          VodManifest("FIRE_vid_en__02", "fire_vid_en__02", "Fire 100% &amp; Co", "en", "<p>Fire</p>"));
        fire.emplace_back("xml/interface.xml", VodInterfaceFile(kHrsFalse));
        add("fire_vid_en__02", fire);

        Files late = CommonFiles("z_vid_late");
        late.emplace_back("imsmanifest.xml", VodManifest("z_vid_late", "z_vid_late", "z_vid_late", "en", ""));
        late.emplace_back("xml/interface.xml", VodInterfaceFile(kHrsFalse));
        add("z_vid_late", late);

        std::sort(files.begin(), files.end());
        return files;
    }

    // A run's state over the installation.
    std::unique_ptr<RunState> NewRun() const {
        return std::make_unique<RunState>(install.installFolder.generic_string());
    }
    // Builds the packages of the folder `relative` as the VOD job does, and
    // puts them in place; returns the package folders in the order they were done.
    std::vector<std::string> Build(RunState& run, const std::string& relative, bool copyVideo) const {
        struct Listener : WalkListener {
            std::vector<std::string> done;
            void CourseError(const std::string& note) override { ADD_FAILURE() << note; }
            bool BundleDone(const std::string& packageFolder) override {
                done.push_back(packageFolder);
                return true;
            }
        } listener;
        VodInfoLookup vodInfo;
        const std::string folder = install.installFolder.generic_string();
        run.files.ConfineTo({path(relative), Packages().generic_string()}, "the content folder");
        VodJobContext job{run.settings,
                          run.record,
                          run.files,
                          run.installation,
                          [&] { vodInfo.LoadVodCatalogue(folder); },
                          [&](const std::string& title) { return vodInfo.FindVodInfo(title); },
                          listener};
        BuildVodPackages(path(relative), copyVideo, job);
        run.files.Commit();
        return listener.done;
    }

    TestInstall install;
    FakeUser user;
    platform::FixedClock clock{TestTime()};
    CourseSettings settings;
};

TEST_F(BuildVodPackagesTest, BuildsOnePackagePerVideoSideBySide) {
    const auto run = NewRun();
    run->settings = settings;
    const std::vector<std::string> done = Build(*run, "src", false);

    EXPECT_EQ(SnapshotTree(Packages()), ExpectedPackages());
    // Without the video: the video folder holds only the subtitles.
    EXPECT_TRUE(fs::is_directory(Packages() / "fire_vid_en__02/video/vtt"));
    EXPECT_TRUE(fs::is_empty(Packages() / "fire_vid_en__02/video/vtt"));
    // Settings changed for the rest of the run; the record holds the last video.
    EXPECT_TRUE(run->settings.updateDescriptionsFromHtml);
    EXPECT_TRUE(run->settings.enableHrSetting);
    EXPECT_EQ(run->record.courseID, "z_vid_late");
    EXPECT_EQ(run->record.Language, "English");
    EXPECT_EQ(run->report.updatedList, "");
    const std::string packages = Packages().generic_string();
    EXPECT_EQ(done, (std::vector<std::string>{packages + "/Safety_VID_SP__01", packages + "/intro_vid_plain",
                                              packages + "/fire_vid_en__02", packages + "/z_vid_late"}));

    // A second run gives the same packages: every package now has its file.
    const Files first = SnapshotTree(Packages());
    const auto again = NewRun();
    again->settings = settings;
    Build(*again, "src", false);
    EXPECT_EQ(SnapshotTree(Packages()), first);
    EXPECT_FALSE(again->settings.enableHrSetting);
}

TEST_F(BuildVodPackagesTest, TheDriverBuildsWithoutVideosAndCopyVideoAddsThem) {
    user.settings = settings;
    user.folder = path("src");
    {
        QuarvelRun run(user, clock, install.store());
        run.RunSelectedJob();
    }
    ASSERT_EQ(user.messages.size(), 1u);
    EXPECT_EQ(user.messages[0].text, "VOD packages created in 'VOD packages' subfolder.");
    EXPECT_EQ(SnapshotTree(Packages()), ExpectedPackages());

    const auto run = NewRun();
    run->settings = settings;
    Build(*run, "src", true);
    EXPECT_EQ(ReadBytes(Packages() / "Safety_VID_SP__01/video/Safety_VID_SP__01.mp4"), "video 1");
    EXPECT_EQ(ReadBytes(Packages() / "intro_vid_plain/video/intro_vid_plain.mp4"), "video 2");
    EXPECT_EQ(ReadBytes(Packages() / "fire_vid_en__02/video/fire_vid_en__02.MP4"), "video 3");
    EXPECT_EQ(ReadBytes(Packages() / "z_vid_late/video/z_vid_late.mp4"), "video 4");
}

TEST_F(BuildVodPackagesTest, TheMainJobOverThePackagesRewritesOnlyTheirSettingsFiles) {
    {
        const auto run = NewRun();
        run->settings = settings;
        Build(*run, "src", false);
    }
    Files expected = SnapshotTree(Packages());
    for (auto& [name, bytes] : expected) {
        if (name.size() > 18 && name.substr(name.size() - 18) == "/xml/interface.xml") {
            // Rewritten with the isHRS line kept, then normalised.
            const bool hrs = name.rfind("Safety", 0) == 0;
            bytes = std::string("<xmlFile>\n\t<Attributes>\n") +
                    (hrs ? "\t\t<isHRS>true</isHRS>\n" : "\t\t<isHRS>false</isHRS>\n") +
                    "\t</Attributes>\n</xmlFile>\n";
        }
    }

    user.settings = DefaultOkSettings();
    user.folder = Packages().string();
    QuarvelRun run(user, clock, install.store());
    run.RunSelectedJob();
    EXPECT_EQ(SnapshotTree(Packages()), expected);
    // Packages are no course bundles of the run report: the log lists none.
    EXPECT_EQ(ReadBytes(install.installFolder / "nb_logfile.txt"),
              "\xFF\xFE" + Utf16LeBytes("\r\n\r\nThe following course bundles were updated 12/07/2026 14:05:\r\n"));
}

TEST_F(BuildVodPackagesTest, LanguageMarkers) {
    struct Case {
        const char* title;
        const char* before;
        const char* language;
    };
    const Case cases[] = {
        {"a_vid_x_EN__1", "", "English"},
        {"a_vid_sp__x_en__", "", "English"},      // "_en__" is tested first
        {"a_vid_en_sp__", "", "Espa\xC3\xB1ol"},  // "_sp__" is tested before "_en"
        {"a_vid_x_spanish", "", "Espa\xC3\xB1ol"},
        {"a_vid_x_enable", "Espa\xC3\xB1ol", "English"},
        {"a_vid_plain", "Espa\xC3\xB1ol", "Espa\xC3\xB1ol"},
        {"a_vid_plain", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        fs::remove_all(dir() / "one");
        WriteBytes(dir() / "one" / (std::string(c.title) + ".mp4"), "");
        const auto run = NewRun();
        run->record.Language = c.before;
        Build(*run, "one", false);
        EXPECT_EQ(run->record.Language, c.language);
    }
}

TEST_F(BuildVodPackagesTest, IsHrsLineOfAnOlderPackage) {
    struct Case {
        const char* name;
        std::optional<std::string> previous;
        bool enableHrSetting, isHr;
        std::string written;
        bool enableAfter;
    };
    const Case cases[] = {
        {"kept unchanged, CR LF or not", "<xmlFile>\n  \t<isHRS>TRUE</isHRS> x\r\r\n<isHRS>false</isHRS>\n", false,
         false, "  \t<isHRS>TRUE</isHRS> x", false},
        {"the first line is never taken", "<isHRS>true</isHRS>\n\t<isHRS>false</isHRS>", false, true,
         "\t<isHRS>false</isHRS>", false},
        {"no isHRS line: the options give it", "<xmlFile>\n</xmlFile>\n", false, true, kHrsTrue, false},
        {"empty file", "", false, false, kHrsFalse, false},
        {"options switched on win", VodInterfaceFile(kHrsFalse), true, true, kHrsTrue, true},
        {"no file: options switched on", std::nullopt, false, true, kHrsTrue, true},
    };
    WriteBytes(dir() / "one/k_vid_1.mp4", "");
    const fs::path file = Packages() / "k_vid_1/xml/interface.xml";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Packages());
        if (c.previous) WriteBytes(file, *c.previous);
        const auto run = NewRun();
        run->settings.enableHrSetting = c.enableHrSetting;
        run->settings.isHr = c.isHr;
        Build(*run, "one", false);
        EXPECT_EQ(ReadBytes(file), VodInterfaceFile(c.written));
        EXPECT_EQ(run->settings.enableHrSetting, c.enableAfter);
    }
}

}  // namespace
