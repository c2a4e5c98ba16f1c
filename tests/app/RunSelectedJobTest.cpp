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

TEST_F(RunSelectedJobTest, MainJobShowsTheLogPathThenAppendsTheDatedSection) {
    bool logExistedAtMessage = true;
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
    EXPECT_FALSE(logExistedAtMessage);

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

TEST_F(RunSelectedJobTest, PatchLogThatCannotBeCreatedIsReported) {
    // A folder where the log should be: it can be neither opened nor created.
    fs::create_directories(install.installFolder / "nb_logfile.txt");
    Run();
    ASSERT_EQ(user.messages.size(), 2u);
    EXPECT_EQ(user.messages[1].text.rfind(
                  "The patch log '" + (install.installFolder / "nb_logfile.txt").string() + "' could not be", 0),
              0u);
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
