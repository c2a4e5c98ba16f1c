// Where the Windows file layer differs from Linux: drive letters, the long
// path prefix, attributes kept by the system's replace, the system's own
// letter case, the ANSI code page, the lock and journal of appends.
#include <windows.h>

#include <atomic>
#include <thread>

#include "platform/AppendJournal.h"
#include "platform/FileSystem.h"
#include "platform/FileTransaction.h"
#include "platform/LockedAppend.h"
#include "platform/Text.h"
#include "support/TestSupport.h"

namespace {

using namespace platform;

DWORD AttributesOf(const std::string& path) {
    return ::GetFileAttributesW(fs::path(path).wstring().c_str());
}

TEST(WindowsPathText, DriveLettersRootsAndNativeSpelling) {
    struct Row {
        const char* what;
        std::string got;
        std::string expected;
    };
    const Row rows[] = {
        {"absolute from backslashes", AbsolutePath("C:\\Courses\\a\\..\\b\\.\\c"), "C:/Courses/b/c"},
        {"absolute of a root", AbsolutePath("D:\\"), "D:/"},
        {"absolute of a share", AbsolutePath("\\\\server\\share\\x\\..\\y"), "//server/share/y"},
        {"parent below a drive", ParentPath("C:/Courses"), "C:/"},
        {"parent of a drive root", ParentPath("C:/"), "C:/"},
        {"parent below a share", ParentPath("//server/share/x"), "//server/share/"},
        {"join to a drive root", JoinPath("C:/", "web"), "C:/web"},
        {"last component", LastComponent("C:/Courses/xml"), "xml"},
        {"display spelling", DisplayPath("C:/Courses/intro101/xml"), "C:\\Courses\\intro101\\xml"},
        {"display of a share", DisplayPath("//server/share/x"), "\\\\server\\share\\x"},
        {"program spelling", PathFromDisplay("C:\\Quarvel\\web"), "C:/Quarvel/web"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(row.got, row.expected);
    }
    EXPECT_TRUE(IsWithin("C:/Courses/a", "C:/"));
    EXPECT_TRUE(IsWithin("C:/Courses/a", "C:/Courses"));
    EXPECT_FALSE(IsWithin("C:/Courses2", "C:/Courses"));
    EXPECT_FALSE(IsWithin("D:/Courses", "C:/"));
}

TEST(WindowsPathText, AFindFirstQueryOnADriveRootFindsNothing) {
    EXPECT_FALSE(FindFirst("C:/"));
    EXPECT_FALSE(FindFirst("C:"));
    EXPECT_TRUE(IsDirectory("C:/"));
    EXPECT_TRUE(FindFirst("C:/windows"));
}

class WindowsFileSystemTest : public TempDirTest {};

TEST_F(WindowsFileSystemTest, PathsPastTheOldLengthLimitWork) {
    // Each folder made by the layer itself, through the long-path prefix.
    std::string folder = path("");
    folder.pop_back();
    while (folder.size() < 400) {
        folder = JoinPath(folder, "a-rather-long-folder-name-for-a-course-bundle");
        ASSERT_FALSE(CreateFolder(folder)) << folder.size();
    }
    const std::string file = JoinPath(folder, "interface.xml");
    ASSERT_FALSE(ReplaceFileSafely(file, "<course/>"));
    ASSERT_FALSE(ReplaceFileSafely(file, "<course id=\"1\"/>"));
    EXPECT_EQ(ReadFileBytes(file), "<course id=\"1\"/>");
    const std::vector<DirEntry> entries = FindEntries(folder, "*.xml");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "interface.xml");
    EXPECT_TRUE(IdentifyFolder(folder).has_value());
    ASSERT_FALSE(AppendUtf16LeText(JoinPath(folder, "log.txt"), "x\n"));
    EXPECT_EQ(ReadFileBytes(JoinPath(folder, "log.txt")), std::string("\xFF\xFEx\0\r\0\n\0", 8));
    EXPECT_FALSE(RemoveFile(file));
    EXPECT_FALSE(FindFirst(file));
}

TEST_F(WindowsFileSystemTest, ReplaceKeepsTheHiddenAttributeAndRefusesAReadOnlyFile) {
    const std::string hidden = path("hidden.css");
    WriteBytes(hidden, "old");
    ASSERT_TRUE(::SetFileAttributesW(fs::path(hidden).wstring().c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_FALSE(ReplaceFileSafely(hidden, "new"));
    EXPECT_EQ(ReadBytes(hidden), "new");
    EXPECT_NE(AttributesOf(hidden) & FILE_ATTRIBUTE_HIDDEN, 0u);

    const std::string locked = path("locked.css");
    WriteBytes(locked, "old");
    ASSERT_TRUE(
        ::SetFileAttributesW(fs::path(locked).wstring().c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(IsReadOnly(locked));
    EXPECT_EQ(ReplaceFileSafely(locked, "new"), std::errc::permission_denied);
    EXPECT_EQ(RemoveFile(locked), std::errc::permission_denied);
    EXPECT_EQ(ReadBytes(locked), "old");
    ASSERT_FALSE(ClearReadOnly(locked));
    EXPECT_FALSE(IsReadOnly(locked));
    EXPECT_NE(AttributesOf(locked) & FILE_ATTRIBUTE_HIDDEN, 0u);  // only the read-only attribute goes
    EXPECT_FALSE(ReplaceFileSafely(locked, "new"));
    EXPECT_EQ(ReadBytes(locked), "new");
}

TEST_F(WindowsFileSystemTest, ListingsComeInOneOrderAndNamesAreFoundInAnyCase) {
    // Made in an order unlike the listing's, so the system's own order cannot pass for it.
    for (const char* name : {"b.txt", "_x.txt", "Zeta.TXT", "a0.txt", "A.txt", "\xC3\xA9t\xC3\xA9.txt"}) {
        WriteBytes(dir() / fs::u8path(name), name);
    }
    fs::create_directory(dir() / "Media");
    std::vector<std::string> names;
    for (const DirEntry& entry : FindEntries(path(""), "*.txt")) names.push_back(entry.name);
    EXPECT_EQ(names,
              (std::vector<std::string>{"A.txt", "a0.txt", "b.txt", "Zeta.TXT", "_x.txt", "\xC3\xA9t\xC3\xA9.txt"}));
    const std::vector<DirEntry> all = FindEntries(path(""), "*.*");
    ASSERT_EQ(all.size(), 7u);
    EXPECT_EQ(all[3].name, "Media");
    EXPECT_TRUE(all[3].isDirectory);

    EXPECT_EQ(ReadFileBytes(path("ZETA.txt")), "Zeta.TXT");
    EXPECT_TRUE(IsDirectory(path("MEDIA")));
    EXPECT_EQ(IdentifyFolder(path("media")), IdentifyFolder(path("Media")));
    // A file written under another letter case is the existing one: no second name.
    ASSERT_FALSE(ReplaceFileSafely(path("B.TXT"), "replaced"));
    EXPECT_EQ(FindEntries(path(""), "b.*").size(), 1u);
    EXPECT_EQ(ReadBytes(dir() / "b.txt"), "replaced");
}

TEST_F(WindowsFileSystemTest, LastWriteDateIsTheLocalDate) {
    WriteBytes(dir() / "quarvel.exe", "x");
    SetModifiedDate(dir() / "quarvel.exe", 2025, 3, 9);
    const std::optional<LocalDate> date = LastWriteLocalDate(path("quarvel.exe"));
    ASSERT_TRUE(date);
    EXPECT_EQ(date->year, 2025);
    EXPECT_EQ(date->month, 3);
    EXPECT_EQ(date->day, 9);
}

TEST_F(WindowsFileSystemTest, AFileInFlightIsNotTakenForALeftover) {
    FileTransaction transaction;
    ASSERT_FALSE(transaction.Stage(path("page.htm"), "new page"));
    std::vector<std::string> temps;
    for (const auto& entry : fs::directory_iterator(dir())) temps.push_back(entry.path().filename().string());
    ASSERT_EQ(temps.size(), 1u);
    ASSERT_TRUE(IsSafeReplaceTempName(temps[0]));
    // A leftover of a killed run beside it goes; the file in flight stays.
    WriteBytes(dir() / ".quarvel-AbC123.tmp", "left over");
    RemoveStaleTempFiles(path(""));
    EXPECT_TRUE(fs::exists(dir() / temps[0]));
    EXPECT_FALSE(fs::exists(dir() / ".quarvel-AbC123.tmp"));
    EXPECT_FALSE(RemoveStaleTempFile(path(temps[0])));
    EXPECT_TRUE(fs::exists(dir() / temps[0]));
    EXPECT_EQ(transaction.ReadStaged(path("page.htm")), "new page");
    EXPECT_TRUE(transaction.Commit().empty());
    EXPECT_EQ(ReadBytes(dir() / "page.htm"), "new page");
    EXPECT_FALSE(fs::exists(dir() / temps[0]));
}

TEST_F(WindowsFileSystemTest, AnInterruptedAppendIsCutBackByTheNextOne) {
    WriteBytes(dir() / "VOD info.txt", "kept\ntorn tail");
    BY_HANDLE_FILE_INFORMATION info{};
    {
        const HANDLE file = ::CreateFileW((dir() / "VOD info.txt").wstring().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        ::GetFileInformationByHandle(file, &info);
        ::CloseHandle(file);
    }
    const unsigned long long index = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    // The journal an append leaves when it is killed after writing part of its bytes.
    WriteBytes(dir() / ".VOD info.txt.quarvel-append",
               platform::journal::Text(platform::journal::Describe(info.dwVolumeSerialNumber, index, 5,
                                                                   "torn tail, and what did not follow")));
    ASSERT_FALSE(AppendToExistingFile(path("VOD info.txt"), "next\n"));
    EXPECT_EQ(ReadBytes(dir() / "VOD info.txt"), "kept\nnext\n");
    EXPECT_FALSE(fs::exists(dir() / ".VOD info.txt.quarvel-append"));
}

TEST_F(WindowsFileSystemTest, AppendsWaitForTheLockAndKeepEveryLine) {
    LockedAppend first;
    ASSERT_FALSE(first.Open(path("log.txt"), CreateIfMissing::yes));
    // A second holder of the lock waits (here: a thread, as another run would).
    std::atomic<bool> appended{false};
    std::thread second([&] {
        ASSERT_FALSE(AppendToExistingFile(path("log.txt"), "second\n"));
        appended = true;
    });
    // A failed assertion below returns early: let the waiting thread finish,
    // or the test program ends in std::terminate with its output lost.
    struct Finish {
        LockedAppend& lock;
        std::thread& thread;
        ~Finish() {
            lock.Close();
            if (thread.joinable()) thread.join();
        }
    } finish{first, second};
    ::Sleep(300);
    EXPECT_FALSE(appended);
    ASSERT_FALSE(first.Append("first\n"));
    // Others may read the file while the lock is held.
    EXPECT_EQ(ReadFileBytes(path("log.txt")), "first\n");
    first.Close();
    second.join();
    EXPECT_EQ(ReadBytes(dir() / "log.txt"), "first\nsecond\n");
}

TEST(WindowsText, TheAnsiCodePageIsTheSystems) {
    if (::GetACP() != 1252) GTEST_SKIP() << "the system's ANSI code page is " << ::GetACP();
    // Under a Western system the same as the Linux build's Windows-1252, unmapped bytes included.
    const std::string bytes = "caf\xE9 \x80 \x93quoted\x94 \x81\x8D\x8F\x90\x9D";
    EXPECT_EQ(AnsiToUtf8(bytes), Cp1252ToUtf8(bytes));
}

}  // namespace
