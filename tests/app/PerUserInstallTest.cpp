#include "app/PerUserInstall.h"
#include "support/TestSupport.h"

namespace {

// A shared installation whose patch log is read-only (which stops even root
// from writing it), and a home whose XDG folders lie in the test folder.
class PerUserInstallOfferTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        install = MakeInstall(dir());
        WriteBytes(install.storeFile, "xAPI Host=lms.example\nNB Path=" + install.installFolder.string() + "\n");
        WriteBytes(install.installFolder / "web/scripts/communication.js", "js");
        WriteBytes(install.installFolder / "nb_logfile.txt", "\xFF\xFE");
        fs::create_directories(dir() / "courses");
        env.emplace(std::map<std::string, std::optional<std::string>>{{"XDG_DATA_HOME", path("data")},
                                                                      {"XDG_CONFIG_HOME", path("config")}});
        ResetUser(false);
    }
    // A fresh person who answers the offer with `accept`.
    void ResetUser(bool accept) {
        user = FakeUser{};
        user.folder = path("courses");
        user.settings = DefaultOkSettings();
        user.acceptPerUserInstall = accept;
    }
    void MakeSharedReadOnly() {
        fs::permissions(install.installFolder / "nb_logfile.txt", fs::perms::owner_read | fs::perms::group_read);
    }
    RunOutcome Run() {
        QuarvelRun run(user, clock, install.store());
        return run.RunSelectedJob();
    }
    std::string OwnFolder() const { return path("data/quarvel/install"); }
    std::string OwnStore() const { return path("config/quarvel/quarvel.conf"); }

    TestInstall install;
    FakeUser user;
    platform::FixedClock clock{TestTime()};
    std::optional<ScopedEnvironment> env;
};

TEST_F(PerUserInstallOfferTest, TheAnswerDecidesWhichInstallFolderTheRunWrites) {
    struct Row {
        const char* name;
        bool readOnly;
        bool accept;
        bool offered;
        bool own;  // the run goes on with the user's own folder
    };
    const Row rows[] = {
        {"a writable installation is used without a question", false, true, false, false},
        {"No goes on with the shared installation", true, false, true, false},
        {"Yes makes, records and uses the user's own folder", true, true, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(dir() / "data");
        fs::remove_all(dir() / "config");
        if (row.readOnly) MakeSharedReadOnly();
        ResetUser(row.accept);
        const auto sharedBefore = SnapshotTree(install.installFolder);
        const std::string storeBefore = ReadBytes(install.storeFile);

        EXPECT_EQ(Run(), RunOutcome::Ran);

        ASSERT_EQ(user.offers.size(), row.offered ? 1u : 0u);
        if (row.offered) {
            EXPECT_EQ(user.offers[0].installFolder, install.installFolder.string());
            EXPECT_EQ(user.offers[0].perUserFolder, OwnFolder());
            EXPECT_EQ(user.offers[0].perUserStore, OwnStore());
        }
        EXPECT_EQ(fs::exists(OwnFolder()), row.own);
        EXPECT_EQ(fs::exists(OwnStore()), row.own);
        EXPECT_EQ(ReadBytes(install.storeFile), storeBefore);
        // The settings dialog still comes, and the closing message names the log the run
        // wrote, or the shared one it could not write.
        ASSERT_FALSE(user.messages.empty());
        const std::string log =
            row.own ? OwnFolder() + "/nb_logfile.txt" : (install.installFolder / "nb_logfile.txt").string();
        if (row.own || !row.readOnly) {
            EXPECT_EQ(user.messages[0].text, "Check '" + log + "' for course bundle error status.");
        } else {
            EXPECT_EQ(user.messages[0].text.rfind("The patch log '" + log + "' could not be written: ", 0), 0u)
                << user.messages[0].text;
        }
        if (row.own) {
            // The shared store's other lines carry over; the shared folder is untouched.
            EXPECT_EQ(ReadBytes(OwnStore()), "xAPI Host=lms.example\nNB Path=" + OwnFolder() + "\n");
            EXPECT_EQ(ReadBytes(OwnFolder() + "/web/scripts/communication.js"), "js");
            EXPECT_TRUE(fs::exists(log));
            EXPECT_EQ(SnapshotTree(install.installFolder), sharedBefore);
            EXPECT_EQ(user.messages.size(), 1u);
        }
        fs::permissions(install.installFolder / "nb_logfile.txt", fs::perms::owner_write, fs::perm_options::add);
    }
}

TEST_F(PerUserInstallOfferTest, AFolderThatCannotBeMadeOrRecordedIsShownAndTheRunGoesOnAsBefore) {
    struct Row {
        const char* name;
        std::function<void()> spoil;
        std::string problem;
    };
    const Row rows[] = {
        {"made", [this] { WriteBytes(dir() / "data", "a file where the data folder goes"); },
         "' could not be made: Not a directory."},
        {"recorded", [this] { fs::create_directories(OwnStore()); },
         "' was made but could not be recorded in '" + OwnStore() + "': "},
    };
    MakeSharedReadOnly();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(dir() / "data");
        fs::remove_all(dir() / "config");
        row.spoil();
        ResetUser(true);
        Run();
        ASSERT_GE(user.messages.size(), 2u);
        const std::string& text = user.messages[0].text;
        EXPECT_EQ(text.rfind("Your own install folder '" + OwnFolder() + row.problem, 0), 0u) << text;
        EXPECT_NE(text.find("This run uses '" + install.installFolder.string() + "' as before."), std::string::npos);
        EXPECT_EQ(user.messages[0].style, MessageStyle::Stop);
        EXPECT_EQ(user.messages[1].text.rfind("The patch log '" + (install.installFolder / "nb_logfile.txt").string() +
                                                  "' could not be written: ",
                                              0),
                  0u);
    }
}

TEST_F(PerUserInstallOfferTest, TheUsersOwnFolderHasTheSchemasSoTheSchemaCheckRuns) {
    const fs::path shipped = fs::path(QUARVEL_SOURCE_DIR) / "res/schemas";
    fs::copy(shipped, install.installFolder / "schemas", fs::copy_options::recursive);
    fs::copy(fs::path(QUARVEL_SOURCE_DIR) / "sample/courses/intro101", dir() / "courses/intro101",
             fs::copy_options::recursive);
    MakeSharedReadOnly();
    ResetUser(true);
    user.settings->validatePackages = true;

    EXPECT_EQ(Run(), RunOutcome::Ran);

    ASSERT_EQ(user.offers.size(), 1u);
    for (const char* schema : {"scorm12-wrapper.xsd", "scorm12/imscp_rootv1p1p2.xsd", "xapi/tincan.xsd"}) {
        SCOPED_TRACE(schema);
        EXPECT_EQ(ReadBytes(OwnFolder() + "/schemas/" + schema), ReadBytes(shipped / schema));
    }
    // The manifest was checked: no word of missing schemas.
    const std::string log = ReadBytes(OwnFolder() + "/nb_logfile.txt");
    EXPECT_NE(log.find(Utf16LeBytes("intro101")), std::string::npos);
    EXPECT_EQ(log.find(Utf16LeBytes("are missing or unreadable")), std::string::npos);
}

TEST_F(PerUserInstallOfferTest, NothingIsOfferedWithoutAHomeOrForTheUsersOwnFolder) {
    MakeSharedReadOnly();
    EXPECT_TRUE(PerUserInstallOfferFor(install.installFolder.string()));
    {
        const ScopedEnvironment noHome{{{"HOME", std::nullopt}, {"XDG_DATA_HOME", std::nullopt}}};
        EXPECT_FALSE(PerUserInstallOfferFor(install.installFolder.string()));
    }
    // The user's own folder, read-only, named another way: a copy into itself would not help.
    fs::create_directories(fs::path(OwnFolder()).parent_path());
    fs::copy(install.installFolder, OwnFolder(), fs::copy_options::recursive);
    ASSERT_TRUE(fs::exists(OwnFolder() + "/nb_logfile.txt"));
    EXPECT_FALSE(PerUserInstallOfferFor(path("data/./quarvel/../quarvel/install")));
    // A writable installation needs no offer.
    EXPECT_FALSE(PerUserInstallOfferFor(path("courses")));
}

}  // namespace
