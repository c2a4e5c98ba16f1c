#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>

#include "CourseLibrary.h"
#include "World.h"
#include "platform/Text.h"

namespace {

const std::string kLog = "install/nb_logfile.txt";

// The patch log as UTF-8 text.
std::string LogText(const std::string& utf16) {
    std::string text;
    for (std::size_t i = 2; i + 1 < utf16.size(); i += 2) {
        const char32_t unit = static_cast<unsigned char>(utf16[i]) | (static_cast<unsigned char>(utf16[i + 1]) << 8);
        platform::AppendUtf8(text, unit);  // the generated names are ASCII
    }
    return text;
}

bool CommandWorks(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs the main job over a library whose disk fails in some way and checks
// that nothing is half-written, the run ends normally, and the patch log names
// every bundle file that could not be written.
class FaultInjectionTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        pristine = dir() / "pristine";
        courselib::GenerateInstallation(pristine / "install");
        courselib::GenerateCourses(pristine / "courses", 12);
    }

    // The library copied to `root` (install folder beside it), the store file pointing there.
    fs::path Prepare(const fs::path& root) {
        CopyTree(pristine / "courses", root / "courses");
        if (!fs::exists(dir() / "install")) CopyTree(pristine / "install", dir() / "install");
        fs::remove(dir() / "install" / "nb_logfile.txt");
        const fs::path config = dir() / "quarvel.conf";
        WriteBytes(config, "NB Path=" + (dir() / "install").string() + "\n");
        return config;
    }

    std::vector<std::string> Args(const fs::path& root) const {
        return {"exitStatusMode=PassedIncomplete", (root / "courses").string()};
    }

    // The reference: the same run on a healthy disk at the same place.
    void TakeReference(const fs::path& root) {
        const fs::path config = Prepare(root);
        before = TakeSnapshot(root);
        ASSERT_EQ(RunBatch(config, Args(root)).exitCode, 0);
        after = TakeSnapshot(root);
    }

    // Checks one faulty run's result; returns how many files it failed to write.
    int Check(const fs::path& root, const BatchRun& run) {
        EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 3) << run.output;
        const Snapshot now = TakeSnapshot(root);
        for (const std::string& problem : CompareWithBeforeAndAfter(before, after, now)) ADD_FAILURE() << problem;
        const std::string log = LogText(ReadBytes(dir() / "install" / "nb_logfile.txt"));
        const bool logWritten = !log.empty();
        int failed = 0;
        const auto named = [&](const std::string& relative) {
            ++failed;
            if (logWritten && log.find("'" + (root / relative).string() + "'") == std::string::npos) {
                ADD_FAILURE() << "not named in the patch log: " << relative << "\n" << log;
            }
        };
        for (const auto& [path, bytes] : after) {
            const auto it = now.find(path);
            if (it == now.end() || it->second != bytes) named(path);
        }
        for (const auto& [path, bytes] : now) {
            if (!IsTempLitter(path) && after.count(path) == 0) named(path);  // should have been deleted
        }
        // A run that could not write a file says so in its exit status.
        if (failed > 0) {
            EXPECT_EQ(run.exitCode, 3) << run.output;
        }
        return failed;
    }

    fs::path pristine;
    Snapshot before, after;
};

TEST_F(FaultInjectionTest, FullDiskLeavesWholeFilesAndNamesWhatWasNotWritten) {
    const fs::path disk = dir() / "disk";
    fs::create_directories(disk);
    if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=200m") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
    TakeReference(disk);
    std::size_t needed = 0, have = 0;
    for (const auto& [p, b] : after) needed += b.size() + 4096;
    for (const auto& [p, b] : before) have += b.size() + 4096;
    ::umount(disk.c_str());
    int totalFailed = 0;
    for (const double share : {0.2, 0.5, 0.8}) {
        const std::size_t size = have + static_cast<std::size_t>(share * static_cast<double>(needed - have));
        const std::string options = "size=" + std::to_string(size);
        ASSERT_EQ(::mount("tmpfs", disk.c_str(), "tmpfs", 0, options.c_str()), 0);
        const fs::path config = Prepare(disk);
        totalFailed += Check(disk, RunBatch(config, Args(disk)));
        ::umount(disk.c_str());
    }
    EXPECT_GT(totalFailed, 0) << "the disk never filled up";
    std::cout << "full disk: " << totalFailed << " bundle files could not be written, all named, none half-written\n";
}

class InjectedSyscallTest : public FaultInjectionTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(InjectedSyscallTest, EveryNthCallFailing) {
    if (!CommandWorks("strace -qq -o /dev/null -e inject=write:error=ENOSPC:when=1 true")) {
        GTEST_SKIP() << "strace fault injection is not available here";
    }
    const std::string call = GetParam();
    const fs::path root = dir() / "run";
    TakeReference(root);
    int faults = 0;
    for (int n = 1; n <= 400 && !HasFailure(); n += (n < 40 ? 3 : 29)) {
        const fs::path config = Prepare(root);
        const std::string inject =
            "inject=" + call + ":error=" + (call == "rename" ? "EIO" : "ENOSPC") + ":when=" + std::to_string(n);
        SCOPED_TRACE(inject);
        Check(root, RunBatch(config, Args(root), -1, {"strace", "-f", "-qq", "-o", "/dev/null", "-e", inject}));
        ++faults;
    }
    std::cout << faults << " runs with one failing " << call << " call survived\n";
}

INSTANTIATE_TEST_SUITE_P(Calls, InjectedSyscallTest, ::testing::Values("write", "rename", "copy_file_range"));

TEST_F(FaultInjectionTest, FileSizeLimit) {
    const fs::path root = dir() / "run";
    TakeReference(root);
    const fs::path config = Prepare(root);
    const int failed =
        Check(root, RunBatch(config, Args(root), -1, {"sh", "-c", "ulimit -S -f 40; exec \"$0\" \"$@\""}));
    EXPECT_GT(failed, 0);
}

TEST_F(FaultInjectionTest, ImmutableFolders) {
    // chattr needs a disk file system; the test folder may be on a tmpfs.
    const fs::path root = fs::path("/var/tmp") / ("quarvel-immutable-" + std::to_string(::getpid()));
    struct Cleanup {
        fs::path path;
        ~Cleanup() {
            std::error_code ec;
            fs::remove_all(path, ec);
        }
    } cleanup{root};
    TakeReference(root);
    const fs::path config = Prepare(root);
    const std::string xmlFolder = (root / "courses" / "course0001" / "xml").string();
    const std::string courseFolder = (root / "courses" / "course0002").string();
    if (!CommandWorks("chattr +i '" + xmlFolder + "'")) GTEST_SKIP() << "chattr +i does not work on this file system";
    CommandWorks("chattr +i '" + courseFolder + "'");
    const BatchRun run = RunBatch(config, Args(root));
    CommandWorks("chattr -i '" + xmlFolder + "' '" + courseFolder + "'");
    EXPECT_GT(Check(root, run), 0);
}

TEST_F(FaultInjectionTest, ReadOnlyFilesAreLeftAndNamed) {
    const fs::path root = dir() / "run";
    TakeReference(root);
    const fs::path config = Prepare(root);
    fs::permissions(root / "courses" / "course0003" / "xml" / "interface.xml", fs::perms::owner_read);
    fs::permissions(root / "courses" / "course0004" / "xml" / "question.xml", fs::perms::owner_read);
    EXPECT_EQ(Check(root, RunBatch(config, Args(root))), 2);
}

}  // namespace
