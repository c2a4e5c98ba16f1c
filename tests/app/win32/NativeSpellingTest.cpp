// On Windows the patch log and the message boxes spell paths as Windows
// does (drive letter, backslashes), while the bundles' files are the same.
#include "support/TestSupport.h"

namespace {

const fs::path kSample = fs::path(QUARVEL_SOURCE_DIR) / "sample";

class NativeSpellingTest : public TempDirTest {};

TEST_F(NativeSpellingTest, ThePatchLogAndTheClosingMessageNameFoldersTheWindowsWay) {
    fs::copy(kSample / "install", dir() / "install", fs::copy_options::recursive);
    fs::create_directories(dir() / "courses");
    fs::copy(kSample / "courses" / "intro101", dir() / "courses" / "intro101", fs::copy_options::recursive);
    WriteBytes(dir() / "quarvel.conf", "NB Path=" + path("install") + "\n");
    FakeUser user;
    user.settings = DefaultOkSettings();
    user.folder = path("courses");
    const platform::FixedClock clock{TestTime()};
    QuarvelRun run(user, clock, InstallStore(path("quarvel.conf")));
    ASSERT_EQ(run.RunSelectedJob(), RunOutcome::Ran);

    const std::string native = (dir() / "install" / "nb_logfile.txt").string();
    ASSERT_EQ(native.substr(1, 2), ":\\");
    ASSERT_EQ(user.messages.size(), 1u);
    EXPECT_EQ(user.messages[0].text, "Check '" + native + "' for course bundle error status.");
    const std::string listed = (dir() / "courses" / "intro101" / "xml").string();
    std::string expected = "\r\n\r\nThe following course bundles were updated 12/07/2026 14:05:\r\n" + listed + "\r\n";
    std::string utf16 = "\xFF\xFE";
    for (const char c : expected) {
        utf16.push_back(c);
        utf16.push_back('\0');
    }
    EXPECT_EQ(ReadBytes(dir() / "install" / "nb_logfile.txt"), utf16);
}

}  // namespace
