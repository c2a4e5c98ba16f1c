#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>

#include "app/InstallStore.h"
#include "support/TestSupport.h"

class InstallStoreTest : public TempDirTest {
protected:
    std::string Store(const std::string& content) {
        WriteBytes(dir() / "quarvel.conf", content);
        return InstallStore((dir() / "quarvel.conf").string()).GetInstallFolder();
    }
    std::string Stored() { return ReadBytes(dir() / "quarvel.conf"); }
};

TEST_F(InstallStoreTest, TrailingSeparatorIsRemovedAndWrittenBack) {
    EXPECT_EQ(Store("# installation\nNB Path=/opt/nb/\nxAPI Host=lms.example\n"), "/opt/nb");
    EXPECT_EQ(Stored(), "# installation\nNB Path=/opt/nb\nxAPI Host=lms.example\n");
    EXPECT_EQ(InstallStore((dir() / "quarvel.conf").string()).GetInstallFolder(), "/opt/nb");
}

TEST_F(InstallStoreTest, TwoTrailingSeparatorsReturnOneAndStoreNone) {
    EXPECT_EQ(Store("NB Path=/opt/nb//\n"), "/opt/nb/");
    EXPECT_EQ(Stored(), "NB Path=/opt/nb\n");
}

TEST_F(InstallStoreTest, AValueWithoutSeparatorIsLeftAlone) {
    EXPECT_EQ(Store("NB Path=/opt/nb"), "/opt/nb");
    EXPECT_EQ(Stored(), "NB Path=/opt/nb");
}

TEST_F(InstallStoreTest, MissingValueGivesEmptyAndStoresEmpty) {
    EXPECT_EQ(Store("other=1\n"), "");
    EXPECT_EQ(Stored(), "other=1\nNB Path=\n");
    const InstallStore missing((dir() / "new.conf").string());
    EXPECT_EQ(missing.GetInstallFolder(), "");
    EXPECT_EQ(ReadBytes(dir() / "new.conf"), "NB Path=\n");
}

TEST_F(InstallStoreTest, RootGivesEmpty) {
    EXPECT_EQ(Store("NB Path=/\n"), "");
}

TEST_F(InstallStoreTest, UnwritableStoreIsLeftAsItWas) {
    const InstallStore store((dir() / "no-folder" / "quarvel.conf").string());
    EXPECT_EQ(store.GetInstallFolder(), "");
    EXPECT_FALSE(fs::exists(dir() / "no-folder"));
}

namespace {

struct LookupRow {
    const char* name;
    std::string stored;
    std::string folder;
    std::string storedAfter;
};

}  // namespace

TEST_F(InstallStoreTest, LookupNormalisesOnlyWhatTheRulesAskAndKeepsEveryOtherByte) {
    const std::string bom = "\xEF\xBB\xBF";
    const std::string longFolder = "/" + std::string(300, 'x');
    const std::vector<LookupRow> rows = {
        {"byte-order mark ignored, file unchanged", bom + "NB Path=/opt/nb\n", "/opt/nb", bom + "NB Path=/opt/nb\n"},
        {"byte-order mark kept on write-back", bom + "NB Path=/opt/nb/\nx=1\n", "/opt/nb",
         bom + "NB Path=/opt/nb\nx=1\n"},
        {"byte-order mark only: value added", bom, "", bom + "NB Path=\n"},
        {"blanks around the name and before the value", " \tNB Path \t= /opt/nb/\n", "/opt/nb",
         " \tNB Path \t= /opt/nb\n"},
        {"CR LF lines keep their CR", "NB Path=/opt/nb/\r\nxAPI Host=h\r\n", "/opt/nb",
         "NB Path=/opt/nb\r\nxAPI Host=h\r\n"},
        {"CR LF file gets a CR LF line", "a=1\r\n", "", "a=1\r\nNB Path=\r\n"},
        {"a last line ending in a lone CR gets only its LF", "a=1\r\nb=2\r", "", "a=1\r\nb=2\r\nNB Path=\r\n"},
        {"no final line end", "other=1", "", "other=1\nNB Path=\n"},
        {"commented line ignored", "# NB Path=/old/\nNB Path=/new\n", "/new", "# NB Path=/old/\nNB Path=/new\n"},
        {"first of two lines wins", "NB Path=/a/\nNB Path=/b/\n", "/a", "NB Path=/a\nNB Path=/b/\n"},
        {"a longer name is another name", "NB Paths=/x\n", "", "NB Paths=/x\nNB Path=\n"},
        {"empty value is not written again", "NB Path=\n", "", "NB Path=\n"},
        {"root gives empty, stored empty", "NB Path=/\n", "", "NB Path=\n"},
        {"a long value is read whole", "NB Path=" + longFolder + "\n", longFolder, "NB Path=" + longFolder + "\n"},
        {"empty file", "", "", "NB Path=\n"},
        {"a value that would end in CR is not written", "NB Path=/opt/nb/\r/\n", "/opt/nb/\r", "NB Path=/opt/nb/\r/\n"},
    };
    for (const LookupRow& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Store(row.stored), row.folder);
        EXPECT_EQ(Stored(), row.storedAfter);
    }
}

TEST_F(InstallStoreTest, OtherValuesAreReadByTheSameRules) {
    WriteBytes(dir() / "quarvel.conf", "\xEF\xBB\xBF xAPI Host = lms.example\r\n#NB Path=/x\n");
    const InstallStore store((dir() / "quarvel.conf").string());
    EXPECT_EQ(store.Read("xAPI Host"), "lms.example");
    EXPECT_EQ(store.Read("NB Path"), std::nullopt);
    EXPECT_FALSE(store.Write("xAPI Host", "other.example"));
    EXPECT_EQ(Stored(), "\xEF\xBB\xBF xAPI Host = other.example\r\n#NB Path=/x\n");
}

// A store that exists but cannot be read is reported and never replaced.
TEST_F(InstallStoreTest, UnreadableStoreIsReportedAndLeftUntouched) {
    struct Row {
        const char* name;
        std::function<fs::path()> make;
        bool needsNonRoot;
    };
    const std::vector<Row> rows = {
        {"a folder where the store should be",
         [&] {
             fs::create_directories(dir() / "folder.conf" / "inside");
             return dir() / "folder.conf";
         },
         false},
        {"a file where a folder of the path should be",
         [&] {
             WriteBytes(dir() / "plain", "NB Path=/opt/nb/\n");
             return dir() / "plain" / "quarvel.conf";
         },
         false},
        {"no read permission (mode 0200)",
         [&] {
             WriteBytes(dir() / "writeonly.conf", "NB Path=/opt/nb/\nxAPI Host=h\n");
             return dir() / "writeonly.conf";
         },
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.needsNonRoot && ::geteuid() == 0) continue;  // root reads it anyway
        const fs::path storeFile = row.make();
        const auto before = SnapshotTree(dir());
        if (row.needsNonRoot) fs::permissions(storeFile, fs::perms::owner_write);
        const InstallStore store(storeFile.string());
        const InstallFolderLookup found = store.LookUpInstallFolder();
        EXPECT_TRUE(found.Unreadable());
        EXPECT_EQ(found.folder, "");
        EXPECT_TRUE(store.Write("NB Path", "/elsewhere"));
        EXPECT_NE(store.UnreadableMessage(found.readError).find(storeFile.string()), std::string::npos);
        std::error_code ec;
        fs::permissions(storeFile, fs::perms::owner_read, fs::perm_options::add, ec);
        EXPECT_EQ(SnapshotTree(dir()), before);
    }
}

TEST_F(InstallStoreTest, MissingStoreIsNotSetAndNotUnreadable) {
    const InstallFolderLookup found = InstallStore((dir() / "none.conf").string()).LookUpInstallFolder();
    EXPECT_FALSE(found.Unreadable());
    EXPECT_EQ(found.folder, "");
}

TEST_F(InstallStoreTest, StoreAndPerUserFoldersFollowTheEnvironment) {
    const std::string home = path("home");
    const std::string xdg = path("xdg");
    WriteBytes(dir() / "home/.config/quarvel/quarvel.conf", "NB Path=/home\n");
    WriteBytes(dir() / "xdg/quarvel/quarvel.conf", "NB Path=/xdg\n");
    using Env = std::map<std::string, std::optional<std::string>>;
    struct Row {
        const char* name;
        Env env;
        std::string store;
        std::string perUserStore;
        std::string perUserInstall;
    };
    const std::vector<Row> rows = {
        {"QUARVEL_CONFIG first",
         {{"QUARVEL_CONFIG", "/x/q.conf"}, {"HOME", home}, {"XDG_CONFIG_HOME", xdg}, {"XDG_DATA_HOME", xdg}},
         "/x/q.conf",
         xdg + "/quarvel/quarvel.conf",
         xdg + "/quarvel/install"},
        {"XDG folders when set",
         {{"QUARVEL_CONFIG", ""}, {"HOME", home}, {"XDG_CONFIG_HOME", xdg}, {"XDG_DATA_HOME", xdg + "/"}},
         xdg + "/quarvel/quarvel.conf",
         xdg + "/quarvel/quarvel.conf",
         xdg + "/quarvel/install"},
        {"home folder fallbacks",
         {{"QUARVEL_CONFIG", std::nullopt},
          {"HOME", home},
          {"XDG_CONFIG_HOME", std::nullopt},
          {"XDG_DATA_HOME", std::nullopt}},
         home + "/.config/quarvel/quarvel.conf",
         home + "/.config/quarvel/quarvel.conf",
         home + "/.local/share/quarvel/install"},
        {"relative XDG folders are ignored",
         {{"QUARVEL_CONFIG", std::nullopt}, {"HOME", home}, {"XDG_CONFIG_HOME", "rel"}, {"XDG_DATA_HOME", "rel"}},
         home + "/.config/quarvel/quarvel.conf",
         home + "/.config/quarvel/quarvel.conf",
         home + "/.local/share/quarvel/install"},
        {"per-user store missing: the system store",
         {{"QUARVEL_CONFIG", std::nullopt},
          {"HOME", home},
          {"XDG_CONFIG_HOME", path("nothing")},
          {"XDG_DATA_HOME", std::nullopt}},
         "/etc/quarvel.conf",
         path("nothing") + "/quarvel/quarvel.conf",
         home + "/.local/share/quarvel/install"},
        {"no home folder",
         {{"QUARVEL_CONFIG", std::nullopt},
          {"HOME", std::nullopt},
          {"XDG_CONFIG_HOME", std::nullopt},
          {"XDG_DATA_HOME", std::nullopt}},
         "/etc/quarvel.conf",
         "",
         ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ScopedEnvironment env(row.env);
        EXPECT_EQ(InstallStore::DefaultPath(), row.store);
        EXPECT_EQ(InstallStore::PerUserStorePath(), row.perUserStore);
        EXPECT_EQ(InstallStore::PerUserInstallPath(), row.perUserInstall);
    }
}

TEST_F(InstallStoreTest, WritableInstallFolderIsFoundWithoutLeavingAFile) {
    fs::create_directories(dir() / "install/vod packages");
    WriteBytes(dir() / "install/nb_logfile.txt", "log");
    WriteBytes(dir() / "a file", "x");
    const auto before = SnapshotTree(dir());
    EXPECT_TRUE(CanWriteInstallFolder(path("install")));
    EXPECT_FALSE(CanWriteInstallFolder(path("missing")));
    EXPECT_FALSE(CanWriteInstallFolder(path("a file")));
    EXPECT_EQ(SnapshotTree(dir()), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir() / "install"), fs::directory_iterator()), 2);
}

TEST_F(InstallStoreTest, ReadOnlyPartsOfAnInstallFolderAreFound) {
    struct Row {
        const char* name;
        const char* readOnly;
        bool needsNonRoot;  // root writes in any folder
    };
    for (const Row& row : {Row{"the folder", "", true}, Row{"the patch log", "nb_logfile.txt", false},
                           Row{"the vod packages folder", "vod packages", true}}) {
        SCOPED_TRACE(row.name);
        if (row.needsNonRoot && ::geteuid() == 0) continue;
        const fs::path install = dir() / row.name;
        fs::create_directories(install / "vod packages");
        WriteBytes(install / "nb_logfile.txt", "log");
        ASSERT_TRUE(CanWriteInstallFolder(install.string()));
        fs::permissions(install / row.readOnly, fs::perms::owner_write | fs::perms::group_write,
                        fs::perm_options::remove);
        EXPECT_FALSE(CanWriteInstallFolder(install.string()));
        fs::permissions(install / row.readOnly, fs::perms::owner_write, fs::perm_options::add);
    }
}

class PerUserInstallTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        WriteBytes(dir() / "shared/HTML course descriptions.txt", "a\tb\n");
        WriteBytes(dir() / "shared/VOD info.txt", "v\n");
        WriteBytes(dir() / "shared/spreadsheet.txt", "s\n");
        WriteBytes(dir() / "shared/web/quarvel.exe", "exe");
        WriteBytes(dir() / "shared/web/scripts/communication.js", "js");
        WriteBytes(dir() / "shared/buttons png/exit.png", "png");
        WriteBytes(dir() / "shared/nb_logfile.txt", "someone else's log");
        WriteBytes(dir() / "shared/vod packages/old/imsmanifest.xml", "old package");
        fs::create_symlink(".", dir() / "shared/web/loop");
        ::mkfifo((dir() / "shared/web/fifo").c_str(), 0644);
        SetModifiedDate(dir() / "shared/web/quarvel.exe", 2021, 3, 4);
    }
    std::string from() const { return path("shared"); }
    std::string to() const { return path("home/.local/share/quarvel/install"); }
};

TEST_F(PerUserInstallTest, CopiesWhatARunReadsAndStartsAnEmptyPackagesFolder) {
    ASSERT_FALSE(MakePerUserInstall(from(), to()));
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"HTML course descriptions.txt", "a\tb\n"},
        {"VOD info.txt", "v\n"},
        {"buttons png/exit.png", "png"},
        {"spreadsheet.txt", "s\n"},
        {"web/quarvel.exe", "exe"},
        {"web/scripts/communication.js", "js"},
    };
    EXPECT_EQ(SnapshotTree(to()), expected);
    EXPECT_TRUE(fs::is_directory(fs::path(to()) / "vod packages"));
    EXPECT_TRUE(fs::is_empty(fs::path(to()) / "vod packages"));
    // The course version is stamped from this file's date.
    EXPECT_EQ(fs::last_write_time(fs::path(to()) / "web/quarvel.exe"),
              fs::last_write_time(dir() / "shared/web/quarvel.exe"));
}

TEST_F(PerUserInstallTest, ASecondCallKeepsWhatTheUserHasAndCompletesTheRest) {
    WriteBytes(fs::path(to()) / "VOD info.txt", "v\nmine\n");
    WriteBytes(fs::path(to()) / "nb_logfile.txt", "my log");
    ASSERT_FALSE(MakePerUserInstall(from(), to()));
    ASSERT_FALSE(MakePerUserInstall(from(), to()));
    EXPECT_EQ(ReadBytes(fs::path(to()) / "VOD info.txt"), "v\nmine\n");
    EXPECT_EQ(ReadBytes(fs::path(to()) / "nb_logfile.txt"), "my log");
    EXPECT_EQ(ReadBytes(fs::path(to()) / "web/scripts/communication.js"), "js");
}

TEST_F(PerUserInstallTest, RefusesToCopyAFolderIntoItselfOrFromNothing) {
    for (const std::string& target : {from(), from() + "/web/../mine", from() + "/"}) {
        SCOPED_TRACE(target);
        EXPECT_EQ(MakePerUserInstall(from(), target), std::errc::invalid_argument);
    }
    EXPECT_TRUE(MakePerUserInstall(path("nothing"), to()));
    // A sibling whose name starts with the same letters is another folder.
    EXPECT_FALSE(MakePerUserInstall(from(), from() + "2"));
}

TEST_F(PerUserInstallTest, RecordingCarriesTheSharedSettingsIntoANewPerUserStore) {
    WriteBytes(dir() / "etc/quarvel.conf", "xAPI Host=lms.example\nNB Path=" + from() + "\n");
    const InstallStore shared((dir() / "etc/quarvel.conf").string());
    const std::string userStore = path("home/.config/quarvel/quarvel.conf");
    ASSERT_FALSE(RecordInstallFolder(userStore, to(), shared));
    EXPECT_EQ(ReadBytes(userStore), "xAPI Host=lms.example\nNB Path=" + to() + "\n");
    EXPECT_EQ(ReadBytes(dir() / "etc/quarvel.conf"), "xAPI Host=lms.example\nNB Path=" + from() + "\n");
    EXPECT_EQ(InstallStore(userStore).GetInstallFolder(), to());

    // An existing per-user store keeps its own lines.
    WriteBytes(userStore, "# mine\nNB Path=/old\nxAPI Host=mine.example\n");
    ASSERT_FALSE(RecordInstallFolder(userStore, to(), shared));
    EXPECT_EQ(ReadBytes(userStore), "# mine\nNB Path=" + to() + "\nxAPI Host=mine.example\n");

    // One that cannot be read is left alone.
    fs::remove(userStore);
    fs::create_directories(userStore);
    EXPECT_TRUE(RecordInstallFolder(userStore, to(), shared));
    EXPECT_TRUE(fs::is_directory(userStore));
}

TEST_F(InstallStoreTest, AValueThatWouldMakeOtherLinesIsRefused) {
    WriteBytes(dir() / "quarvel.conf", "NB Path=/opt/nb\n");
    const InstallStore store((dir() / "quarvel.conf").string());
    for (const std::string& value : {std::string("/x\nNB Path=/y"), std::string("/x\r")}) {
        SCOPED_TRACE(value);
        EXPECT_EQ(store.Write("NB Path", value), std::errc::invalid_argument);
        EXPECT_EQ(RecordInstallFolder(store.Path(), value), std::errc::invalid_argument);
        EXPECT_EQ(Stored(), "NB Path=/opt/nb\n");
    }
}
