#include <sys/stat.h>

#include "platform/FileSystem.h"
#include "support/TestSupport.h"

using namespace platform;

class FileSystemTest : public TempDirTest {};

TEST_F(FileSystemTest, NamesAreFoundRegardlessOfCaseAndExactSpellingWins) {
    if (!kCaseSensitiveFileSystem) GTEST_SKIP() << "two names that differ only in case are one file here";
    WriteBytes(dir() / "Course" / "XML" / "Interface.XML", "upper");
    EXPECT_EQ(ResolveCase(path("course/xml/interface.xml")), path("Course/XML/Interface.XML"));
    EXPECT_TRUE(FindFirst(path("COURSE/xml")));
    EXPECT_EQ(ReadFileBytes(path("course/xml/interface.xml")).value_or(""), "upper");

    // A file present under two spellings: the exact one is taken.
    WriteBytes(dir() / "Course" / "XML" / "interface.xml", "lower");
    EXPECT_EQ(ReadFileBytes(path("course/xml/interface.xml")).value_or(""), "lower");
    EXPECT_EQ(ReadFileBytes(path("course/xml/Interface.XML")).value_or(""), "upper");

    // A missing name keeps its spelling from the first component that matches nothing.
    EXPECT_EQ(ResolveCase(path("course/New/Sub")), path("Course/New/Sub"));
}

TEST_F(FileSystemTest, CreatedFilesTakeAnExistingEntryOfAnotherCase) {
    WriteBytes(dir() / "IMSMANIFEST.XML", "old");
    ASSERT_FALSE(ReplaceFileSafely(path("imsmanifest.xml"), "new"));
    EXPECT_EQ(ReadBytes(dir() / "IMSMANIFEST.XML"), "new");
    int count = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir())) ++count;
    EXPECT_EQ(count, 1);
}

TEST_F(FileSystemTest, ListingIsInUpperCasedNameOrderAndMatchesWildcardsIgnoringCase) {
    for (const char* name : {"b.css", "A.CSS", "_x.css", "a_b.css", "Z.js", "c.Css", "ab.css"}) {
        WriteBytes(dir() / name, "");
    }
    fs::create_directories(dir() / "sub.css");
    std::vector<std::string> names;
    for (const DirEntry& e : FindEntries(path("*.css"))) names.push_back(e.name);
    // '_' (0x5F) sorts after the upper-cased letters, as NTFS orders it.
    EXPECT_EQ(names, (std::vector<std::string>{"A.CSS", "ab.css", "a_b.css", "b.css", "c.Css", "sub.css", "_x.css"}));
    EXPECT_TRUE(FindEntries(dir().string(), "*.*").size() == 8);
    EXPECT_TRUE(MatchesWildcard("intro_VID_01.MP4", "*_vid_*.mp4"));
    EXPECT_TRUE(MatchesWildcard("noextension", "*.*"));
    EXPECT_FALSE(MatchesWildcard("ui.png", "ui-*.png"));
    EXPECT_TRUE(MatchesWildcard("ui-x.png", "UI-?.PNG"));
    bool sawFolder = false;
    for (const DirEntry& e : FindEntries(dir().string(), "*.*")) sawFolder |= (e.name == "sub.css" && e.isDirectory);
    EXPECT_TRUE(sawFolder);
}

TEST_F(FileSystemTest, RootFindsNothingAndMissingFolderListsNothing) {
    EXPECT_FALSE(FindFirst("/"));
    EXPECT_FALSE(FindFirst(""));
    EXPECT_TRUE(FindFirst(dir().string()));
    EXPECT_TRUE(FindEntries(path("missing"), "*.*").empty());
}

TEST_F(FileSystemTest, ReplaceKeepsPermissionBitsAndRefusesReadOnlyFiles) {
    if (!kPosixFileSystem) GTEST_SKIP() << "POSIX permission bits (the Windows attributes have their own test)";
    const fs::path file = dir() / "page.htm";
    WriteBytes(file, "old");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_FALSE(ReplaceFileSafely(file.string(), "new"));
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    fs::permissions(file, fs::perms::owner_read);
    EXPECT_TRUE(IsReadOnly(file.string()));
    EXPECT_EQ(ReplaceFileSafely(file.string(), "x"), std::make_error_code(std::errc::permission_denied));
    EXPECT_EQ(RemoveFile(file.string()), std::make_error_code(std::errc::permission_denied));
    EXPECT_EQ(ReadBytes(file), "new");
    ASSERT_FALSE(ClearReadOnly(file.string()));
    EXPECT_FALSE(IsReadOnly(file.string()));
    EXPECT_FALSE(ReplaceFileSafely(file.string(), "x"));
    // No temporary file is left behind.
    for (const auto& e : fs::directory_iterator(dir()))
        EXPECT_FALSE(IsSafeReplaceTempName(e.path().filename().string()));
}

TEST_F(FileSystemTest, ReplaceFailsIntoAMissingFolderOrOverAFolder) {
    EXPECT_TRUE(ReplaceFileSafely(path("nowhere/file.txt"), "x"));
    fs::create_directories(dir() / "folder");
    EXPECT_EQ(ReplaceFileSafely(path("folder"), "x"), std::make_error_code(std::errc::is_a_directory));
}

TEST_F(FileSystemTest, CopyOverwritesAndTakesTheSourcesBitsAndDate) {
    WriteBytes(dir() / "src.js", "fresh");
    SetModifiedDate(dir() / "src.js", 2024, 3, 15);
    WriteBytes(dir() / "dst" / "SRC.JS", "stale");
    ASSERT_FALSE(CopyFileOver(path("src.js"), path("dst/src.js")));
    EXPECT_EQ(ReadBytes(dir() / "dst" / "SRC.JS"), "fresh");
    const auto date = LastWriteLocalDate(path("dst/src.js"));
    ASSERT_TRUE(date);
    EXPECT_EQ(date->year * 10000 + date->month * 100 + date->day, 20240315);
    EXPECT_TRUE(CopyFileOver(path("missing.js"), path("dst/x.js")));
    EXPECT_TRUE(CopyFileOver(path("src.js"), path("no-folder/x.js")));
    fs::permissions(dir() / "dst" / "SRC.JS", fs::perms::owner_read);
    EXPECT_EQ(CopyFileOver(path("src.js"), path("dst/src.js")), std::make_error_code(std::errc::permission_denied));
}

TEST_F(FileSystemTest, LongPathsAndPercentSignsPassThrough) {
    if (!kPosixFileSystem)
        GTEST_SKIP() << "the test's own file calls cannot make such paths here (its Windows twin can)";
    fs::path deep = dir();
    for (int i = 0; i < 30; ++i) deep /= "folder_with_a_rather_long_name_50%_%s_" + std::to_string(i);
    fs::create_directories(deep);
    ASSERT_GT(deep.string().size(), 1200u);
    const std::string file = (deep / "interface.xml").string();
    ASSERT_FALSE(ReplaceFileSafely(file, "deep"));
    EXPECT_EQ(ReadFileBytes(file).value_or(""), "deep");
    EXPECT_TRUE(FindFirst(deep.string()));
}

TEST_F(FileSystemTest, Utf16AppendWritesOneByteOrderMarkAndCrLf) {
    const std::string log = path("nb_logfile.txt");
    ASSERT_FALSE(AppendUtf16LeText(log, "a\n"));
    ASSERT_FALSE(AppendUtf16LeText(log, "\xC3\xA9"));
    EXPECT_EQ(ReadBytes(log), std::string("\xFF\xFE"
                                          "a\0\r\0\n\0\xE9\0",
                                          10));
    EXPECT_TRUE(AppendToExistingFile(path("missing.txt"), "x"));
    EXPECT_FALSE(fs::exists(dir() / "missing.txt"));
}

TEST_F(FileSystemTest, StaleTemporaryFilesAreRemovedAndUserFilesKept) {
    WriteBytes(dir() / ".quarvel-Ab12Cd.tmp", "left by a kill");
    WriteBytes(dir() / ".quarvel-notours.tmp", "user");
    WriteBytes(dir() / "quarvel-Ab12Cd.tmp", "user");
    RemoveStaleTempFiles(dir().string());
    EXPECT_FALSE(fs::exists(dir() / ".quarvel-Ab12Cd.tmp"));
    EXPECT_TRUE(fs::exists(dir() / ".quarvel-notours.tmp"));
    EXPECT_TRUE(fs::exists(dir() / "quarvel-Ab12Cd.tmp"));
}

TEST_F(FileSystemTest, LinksToFoldersAreFoldersAndKeepTheirIdentity) {
    fs::create_directories(dir() / "real");
    std::error_code linkError;
    fs::create_directory_symlink(dir() / "real", dir() / "link", linkError);
    if (linkError) GTEST_SKIP() << "no links to folders here: " << linkError.message();
    const auto entries = FindEntries(dir().string(), "*.*");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(entries[0].isDirectory && entries[1].isDirectory);
    EXPECT_FALSE(IdentifyFolder(path("link")) < IdentifyFolder(path("real")));
    EXPECT_FALSE(IdentifyFolder(path("real")) < IdentifyFolder(path("link")));
}

TEST(PathTest, AbsolutePathResolvesDotsByName) {
    if (!kPosixFileSystem) GTEST_SKIP() << "paths start at a drive here (their rows are in WindowsPathText)";
    EXPECT_EQ(AbsolutePath("/a/./b/../c/"), "/a/c");
    EXPECT_EQ(AbsolutePath("/"), "/");
    EXPECT_EQ(ParentPath("/a"), "/");
    EXPECT_EQ(LastComponent("/a/b"), "b");
}

TEST_F(FileSystemTest, ListingsFollowTheFilesThisProgramWritesAndDeletes) {
    fs::create_directories(dir() / "controls");
    EXPECT_TRUE(FindEntries(path("controls"), "*.*").empty());  // the folder's listing is now kept
    ASSERT_FALSE(ReplaceFileSafely(path("controls/Style.CSS"), "1"));
    ASSERT_FALSE(ReplaceFileSafely(path("controls/style.css"), "2"));  // the same file in another case
    ASSERT_FALSE(CopyFileOver(path("controls/Style.CSS"), path("controls/copy.css")));
    ASSERT_FALSE(CreateFolder(path("controls/images")));
    std::vector<std::string> names;
    for (const DirEntry& e : FindEntries(path("controls"), "*.*")) names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"copy.css", "images", "Style.CSS"}));
    EXPECT_EQ(ReadBytes(dir() / "controls" / "Style.CSS"), "2");

    ASSERT_FALSE(RemoveFile(path("controls/STYLE.css")));
    ASSERT_FALSE(ReplaceFileSafely(path("controls/style.css"), "3"));  // now created in this spelling
    names.clear();
    for (const DirEntry& e : FindEntries(path("controls"), "*.css")) names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"copy.css", "style.css"}));
    if (!kPosixFileSystem) return;  // folders' time stamps cannot be set here

    // A change made by someone else is seen once the folder's time stamp moved.
    WriteBytes(dir() / "controls" / "Other.js", "x");
    fs::last_write_time(dir() / "controls", fs::last_write_time(dir() / "controls") + std::chrono::seconds(5));
    EXPECT_EQ(ResolveCase(path("controls/other.js")), path("controls/Other.js"));
}
