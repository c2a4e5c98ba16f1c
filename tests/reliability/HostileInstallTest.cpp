// A wrong installation, a damaged store file and a closed standard output.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "HostileFixture.h"

extern char** environ;

namespace {

class HostileInstallTest : public HostileTest {
protected:
    void SetUp() override {
        HostileTest::SetUp();
        courselib::GenerateCourses(courses(), 2);
        courselib::GenerateVideos(dir() / "videos", 2);
    }
    bool Patched(const std::string& course) const {
        return Holds(ReadBytes(courses() / course / "xml" / "interface.xml"), "<CrsVersion>10.7.0_");
    }
};

TEST_F(HostileInstallTest, UnusableInstallFolderStopsTheRunBeforeAnyWrite) {
    WriteBytes(dir() / "plain-file", "not a folder\n");
    fs::create_directories(dir() / "no-web" / "xml");
    fs::create_directories(dir() / "inst\nall");
    fs::rename(install() / "web", dir() / "inst\nall" / "web");
    const struct {
        const char* name;
        std::string stored;  // the store's whole text
        std::string named;   // the folder the box must name
    } rows[] = {
        {"missing", "NB Path=" + (dir() / "unmounted" / "install").string() + "\n",
         (dir() / "unmounted" / "install").string()},
        {"a file", "NB Path=" + (dir() / "plain-file").string() + "\n", (dir() / "plain-file").string()},
        {"without web", "NB Path=" + (dir() / "no-web").string() + "\n", (dir() / "no-web").string()},
        // The store keeps one value a line: a newline cuts the folder's name.
        {"newline in the value", "NB Path=" + (dir() / "inst\nall").string() + "\n", (dir() / "inst").string()},
    };
    const struct {
        const char* name;
        std::vector<std::string> args;
    } jobs[] = {
        {"main job", {"packageType=Xapi", "deleteBmp=true", courses().string()}},
        {"VOD job", {"createVodPackages=true", (dir() / "videos").string()}},
        {"spreadsheet job", {"updateFromSpreadsheet=true"}},
    };
    for (const auto& row : rows) {
        for (const auto& job : jobs) {
            // The spreadsheet job needs no template folder.
            if (row.name == std::string("without web") && job.name == std::string("spreadsheet job")) continue;
            SCOPED_TRACE(std::string(row.name) + ", " + job.name);
            WriteBytes(config, row.stored);
            const TreeState before = StateExcept({});
            const LimitedRun run = RunLimited(config, job.args);
            EXPECT_EQ(run.exitCode, 1) << run.output;
            EXPECT_TRUE(Holds(run.output, "Quarvel: ")) << run.output;
            EXPECT_TRUE(Holds(run.output, row.named)) << run.output;
            EXPECT_EQ(DescribeChanges(before, StateExcept({})), std::vector<std::string>{});
        }
    }
}

TEST_F(HostileInstallTest, SpreadsheetJobNeedsOnlyTheInstallFolder) {
    fs::remove_all(install() / "web");
    WriteBytes(install() / "spreadsheet.txt",
               "Title\tSubtitle\tFolder\tVideo\tCode\tDescription\r\n"
               "Course 1\t\tcourse1\tintro_vid_1\tPC1\tLearn it\r\n");
    const LimitedRun run = RunLimited(config, {"updateFromSpreadsheet=true"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(Holds(ReadBytes(install() / "VOD info.txt"), "PC1")) << run.output;
}

TEST_F(HostileInstallTest, UnreadableStoreIsLeftWhole) {
    const std::string stored = "Other=kept\nNB Path=" + install().string() + "\nLast=line\n";
    WriteBytes(config, stored);
    ASSERT_EQ(Shell("chown -R 65534:65534 " + Quote(dir().string())), 0);
    ::chmod(config.c_str(), 0200);
    const TreeState before = StateExcept({});
    const LimitedRun run = RunLimited(config, {courses().string()}, AsNobody());
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_FALSE(Holds(run.output, "not set")) << run.output;
    EXPECT_TRUE(Holds(run.output, "read")) << run.output;
    EXPECT_EQ(DescribeChanges(before, StateExcept({})), std::vector<std::string>{});
    EXPECT_EQ(ReadBytes(config), stored);
}

TEST_F(HostileInstallTest, StoreWithByteOrderMarkAndBlanksAroundTheName) {
    const struct {
        const char* name;
        std::string stored;
    } rows[] = {
        {"byte-order mark", "\xEF\xBB\xBFNB Path=" + install().string() + "\n"},
        {"blanks around the name", "Other=1\n  NB Path  =" + install().string() + "\n"},
        {"both", "\xEF\xBB\xBF NB Path =" + install().string() + "\nOther=1\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CopyTree(dir() / "courses", dir() / "fresh");
        WriteBytes(config, row.stored);
        const LimitedRun run = RunLimited(config, {(dir() / "fresh").string()});
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_TRUE(Holds(ReadBytes(dir() / "fresh" / "course0000" / "xml" / "interface.xml"), "<CrsVersion>10.7.0_"));
        EXPECT_EQ(ReadBytes(config), row.stored);
    }
}

// Standard output is a pipe nobody reads any more (`quarvel-batch ... | head -c0`).
TEST_F(HostileInstallTest, ClosedStandardOutputDoesNotStopTheRun) {
    courselib::GenerateCourses(courses(), 4);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    std::string configVar;
    std::vector<char*> env = EnvironmentWithStore(config, configVar);
    std::vector<std::string> words = {"timeout", "-s", "KILL", "20", QUARVEL_BATCH, courses().string()};
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &pipeSignal);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), env.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(fds[1]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::string log = Log();
    EXPECT_TRUE(Holds(log, "The following course bundles were updated")) << log;
    for (const char* course : {"course0000", "course0001", "course0002", "course0003"}) {
        SCOPED_TRACE(course);
        EXPECT_TRUE(Patched(course));
        EXPECT_TRUE(Holds(log, (courses() / course / "xml").string())) << log;
    }
}

}  // namespace
