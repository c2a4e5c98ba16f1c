#include "app/PrepareVodPackageFolders.h"
#include "bundle/SettingsFile.h"
#include "support/TestSupport.h"

namespace {

const std::string kMinimalFile =
    "\xEF\xBB\xBF<xmlFile>\r\n\t<Attributes>\r\n\t\t<isHRS>false</isHRS>\r\n\t</Attributes>\r\n</xmlFile>\r\n";

class RunSelectedJobTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        install = MakeInstall(dir());
        fs::create_directories(dir() / "courses");
        user.folder = path("courses");
    }
    RunOutcome Run() {
        QuarvelRun run(user, clock, install.store());
        return run.RunSelectedJob();
    }
    fs::path LogPath() const { return install.installFolder / "nb_logfile.txt"; }

    TestInstall install;
    FakeUser user;
    platform::FixedClock clock{TestTime()};
};

TEST_F(RunSelectedJobTest, MainJobAppendsTheDatedSectionThenShowsTheLogPath) {
    bool logExistedAtMessage = false;
    user.onMessage = [&] { logExistedAtMessage = fs::exists(LogPath()); };
    // A percent sign in a listed folder goes into the log as it is.
    WriteBytes(dir() / "courses/50%/xml/interface.xml", MinimalInterfaceFile(false));
    EXPECT_EQ(Run(), RunOutcome::Ran);

    ASSERT_EQ(user.folderRequests.size(), 1u);
    EXPECT_EQ(user.folderRequests[0].first, "Browse to the Starting course folder:");
    EXPECT_EQ(user.folderRequests[0].second, "Reminder:    BACK UP ALL COURSE FILES before proceeding");
    ASSERT_EQ(user.messages.size(), 1u);
    EXPECT_EQ(user.messages[0].text, "Check '" + LogPath().string() + "' for course bundle error status.");
    EXPECT_EQ(user.messages[0].caption, "Course Bundle Patch Status");
    EXPECT_EQ(user.messages[0].style, MessageStyle::Stop);
    EXPECT_TRUE(logExistedAtMessage);

    const std::string section = Utf16LeBytes("\r\n\r\nThe following course bundles were updated 12/07/2026 14:05:\r\n" +
                                             (dir() / "courses" / "50%" / "xml").string() + "\r\n");
    EXPECT_EQ(ReadBytes(LogPath()), "\xFF\xFE" + section);

    // A second run appends a second section without a second byte-order mark.
    Run();
    EXPECT_EQ(ReadBytes(LogPath()), "\xFF\xFE" + section + section);
}

TEST_F(RunSelectedJobTest, CancelledOrMissingFoldersEndTheRunSilently) {
    user.settings.reset();
    Run();
    EXPECT_TRUE(user.folderRequests.empty());

    user.settings = DefaultOkSettings();
    for (const std::optional<std::string>& folder :
         {std::optional<std::string>(), std::optional<std::string>("/"), std::optional<std::string>(path("none"))}) {
        user.folder = folder;
        Run();
    }
    EXPECT_TRUE(user.messages.empty());
    EXPECT_FALSE(fs::exists(LogPath()));
}

TEST_F(RunSelectedJobTest, VodFlagWinsOverSpreadsheetFlag) {
    CourseSettings s = DefaultOkSettings();
    s.createVodPackages = true;
    s.updateFromSpreadsheet = true;
    user.settings = s;
    Run();
    ASSERT_EQ(user.folderRequests.size(), 1u);
    EXPECT_EQ(user.folderRequests[0].first, "Browse to the Starting VOD content folder:");
    EXPECT_EQ(user.folderRequests[0].second, "");
    ASSERT_EQ(user.messages.size(), 1u);
    EXPECT_EQ(user.messages[0].text, "VOD packages created in 'VOD packages' subfolder.");
    EXPECT_EQ(user.messages[0].caption, "VOD Status");
    EXPECT_FALSE(fs::exists(LogPath()));
}

TEST_F(RunSelectedJobTest, SpreadsheetJobBrowsesNoFolder) {
    CourseSettings s = DefaultOkSettings();
    s.updateFromSpreadsheet = true;
    user.settings = s;
    Run();
    EXPECT_TRUE(user.folderRequests.empty());
    EXPECT_EQ(user.messages.size(), 1u);
}

TEST_F(RunSelectedJobTest, MissingInstallFolderStopsBeforeAnything) {
    WriteBytes(install.storeFile, "NB Path=\n");
    EXPECT_EQ(Run(), RunOutcome::NotStarted);
    ASSERT_EQ(user.messages.size(), 1u);
    EXPECT_NE(user.messages[0].text.find(install.storeFile.string()), std::string::npos);
    EXPECT_NE(user.messages[0].text.find("install folder is not set"), std::string::npos);
    EXPECT_TRUE(user.folderRequests.empty());
}

TEST_F(RunSelectedJobTest, APatchLogThatCannotBeWrittenIsNamedInsteadOfPointedAt) {
    // A folder where the log should be: it can be neither opened nor created.
    fs::create_directories(install.installFolder / "nb_logfile.txt");
    const std::string failed = "The patch log '" + LogPath().string() + "' could not be written: ";
    WriteBytes(dir() / "courses/a/xml/interface.xml", MinimalInterfaceFile(false));
    WriteBytes(dir() / "videos/a_vid_1.mp4", "video");
    // The VOD job writes the log only with notes: a file where the package folders go gives one.
    WriteBytes(install.installFolder / "vod packages", "not a folder");
    CourseSettings vod = DefaultOkSettings();
    vod.createVodPackages = true;
    const struct {
        const char* name;
        CourseSettings settings;
        std::string folder;
        std::vector<std::string> messages;  // caption: text, the reason cut off
    } rows[] = {
        {"main job", DefaultOkSettings(), "courses", {"Course Bundle Patch Status: " + failed}},
        {"VOD job with notes",
         vod,
         "videos",
         {"VOD Status: VOD packages created in 'VOD packages' subfolder.", "VOD Status: " + failed}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        user.messages.clear();
        user.settings = row.settings;
        user.folder = path(row.folder);
        QuarvelRun run(user, clock, install.store());
        EXPECT_EQ(run.RunSelectedJob(), RunOutcome::Ran);
        std::vector<std::string> shown;
        for (const ShownMessage& m : user.messages) {
            const std::string text = m.caption + ": " + m.text;
            shown.push_back(text.substr(
                0, text.find(failed) == std::string::npos ? std::string::npos : text.find(failed) + failed.size()));
        }
        EXPECT_EQ(shown, row.messages);
        EXPECT_EQ(run.Summary().patchLogProblem, user.messages.back().text);
    }
}

// Changes a bundle's files after it is done and before they are put in place:
// a folder where a file is to go makes its commit fail.
struct ObstructingUser : FakeUser {
    std::map<int, fs::path> obstacleAfter;  // bundles done -> the file made a folder then
    Progress ReportProgress(int done, const std::string&) override {
        if (const auto it = obstacleAfter.find(done); it != obstacleAfter.end()) {
            fs::remove(it->second);
            fs::create_directories(it->second);
        }
        return Progress::Continue;
    }
};

TEST_F(RunSelectedJobTest, AFileThatFailsWhenPutInPlaceCountsForItsBundle) {
    // Walked in this order: a, b, c (refused: UTF-16), d.
    const auto make = [this] {
        fs::remove_all(dir() / "courses");
        for (const char* course : {"a", "b", "d"}) {
            WriteBytes(dir() / "courses" / course / "xml/interface.xml", MinimalInterfaceFile(false));
        }
        WriteBytes(dir() / "courses/c/xml/interface.xml", "\xFF\xFE" + Utf16LeBytes("<xmlFile>\r\n"));
    };
    const fs::path courses = dir() / "courses";
    const struct {
        const char* name;
        std::map<int, fs::path> obstacles;
        int withProblems;
    } rows[] = {
        {"none", {}, 1},
        {"the first bundle's", {{1, courses / "a/imsmanifest.xml"}}, 2},
        {"the last bundle's", {{3, courses / "d/imsmanifest.xml"}}, 2},
        {"two bundles'", {{1, courses / "a/imsmanifest.xml"}, {2, courses / "b/xml/interface.xml"}}, 3},
        {"two files of one bundle", {{2, courses / "b/imsmanifest.xml"}, {3, courses / "b/xml/interface.xml"}}, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        make();
        ObstructingUser obstructing;
        obstructing.settings = DefaultOkSettings();
        obstructing.folder = courses.generic_string();
        obstructing.obstacleAfter = row.obstacles;
        QuarvelRun run(obstructing, clock, install.store());
        run.RunSelectedJob();
        const RunSummary summary = run.Summary();
        EXPECT_EQ(summary.bundlesPatched, 3);
        EXPECT_EQ(summary.bundlesWithProblems, row.withProblems);
        EXPECT_EQ(summary.otherProblems, 0);
        EXPECT_EQ(summary.problemNotes, 1 + static_cast<int>(row.obstacles.size()));
    }
}

TEST_F(RunSelectedJobTest, TheXapiHostIsReadFromTheStoreOncePerRun) {
    WriteBytes(install.installFolder / "web/html/tincan.xml",
               ReadBytes(fs::path(QUARVEL_TEST_DATA) / "writers/web/html/tincan.xml"));
    for (const char* course : {"a", "b"}) {
        WriteBytes(dir() / "courses" / course / "xml/interface.xml", MinimalInterfaceFile(false));
    }
    WriteBytes(install.storeFile,
               "NB Path=" + install.installFolder.generic_string() + "\nxAPI Host= lms.acme.test \n");
    // Changed while the run goes on: the run keeps the host it read.
    struct StoreChangingUser : FakeUser {
        fs::path store;
        std::string changed;
        Progress ReportProgress(int, const std::string&) override {
            WriteBytes(store, changed);
            return Progress::Continue;
        }
    } changing;
    changing.store = install.storeFile;
    changing.changed = "NB Path=" + install.installFolder.generic_string() + "\nxAPI Host=other.test\n";
    changing.settings = DefaultOkSettings();
    changing.settings->packageType = PackageType::Xapi;
    changing.folder = path("courses");
    QuarvelRun(changing, clock, install.store()).RunSelectedJob();
    for (const char* course : {"a", "b"}) {
        SCOPED_TRACE(course);
        EXPECT_NE(ReadBytes(dir() / "courses" / course / "tincan.xml")
                      .find("http://lms.acme.test/" + std::string(course) + "/xapi/course"),
                  std::string::npos);
    }
}

TEST_F(RunSelectedJobTest, VodPackageFoldersGetTheMinimalFileOnlyWhereNoneExists) {
    const fs::path root = dir() / "out" / "vod packages";
    fs::create_directories(root / "a");
    WriteBytes(root / "b" / "xml" / "interface.xml", "keep");
    fs::create_directories(root / "c" / "xml");
    WriteBytes(root / "d" / "XML" / "Interface.xml", "keep too");
    WriteBytes(root / "file.txt", "not a folder");
    RunReport report;
    BundleFiles files(report);
    PrepareVodPackageFolders(files, root.generic_string());
    files.Commit();
    EXPECT_EQ(report.updatedList, "");
    EXPECT_EQ(ReadBytes(root / "a" / "xml" / "interface.xml"), kMinimalFile);
    EXPECT_EQ(ReadBytes(root / "b" / "xml" / "interface.xml"), "keep");
    EXPECT_EQ(ReadBytes(root / "c" / "xml" / "interface.xml"), kMinimalFile);
    EXPECT_EQ(ReadBytes(root / "d" / "XML" / "Interface.xml"), "keep too");
    if (kCaseSensitiveFileSystem) {
        EXPECT_FALSE(fs::exists(root / "d" / "xml"));  // no second folder beside "XML"
    }
    EXPECT_EQ(MinimalInterfaceFile(false), kMinimalFile);
}

}  // namespace
