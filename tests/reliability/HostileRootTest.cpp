// A root run over other people's courses: a course owner who swaps a folder
// for a link while the run goes on, and paths longer than the kernel takes
// in one piece. Every window is opened on purpose, never by luck.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "HostileFixture.h"
#include "writers/BundleFiles.h"

namespace {

const std::string kSettings =
    "<?xml version=\"1.0\"?>\n<xmlFile>\n\t<Attributes>\n\t\t<CrsVersion>1</CrsVersion>\n"
    "\t\t<WebTitle>Course</WebTitle>\n\t</Attributes>\n\t<ActiveFeatures>\n\t</ActiveFeatures>\n"
    "\t<ExamSettings>\n\t</ExamSettings>\n</xmlFile>\n";

// Renames `folder` away and puts a link to `target` in its place, as a course
// owner may at any moment.
void SwapForLink(const fs::path& folder, const fs::path& target) {
    fs::rename(folder, folder.string() + ".away");
    fs::create_symlink(target, folder);
}

}  // namespace

class HostileRootTest : public HostileTest {};

// What the run checked when it staged, read or reached a folder is what its
// later steps change, whatever the names lead to by then.
TEST_F(HostileRootTest, AFolderSwappedForALinkAfterTheCheckChangesNothingOutside) {
    const fs::path course = courses() / "course";
    const fs::path xml = course / "xml";
    const fs::path outside = dir() / "victim";
    struct Row {
        const char* name;
        std::function<void(BundleFiles&)> before;  // what the run did before the swap
        std::function<void(BundleFiles&)> after;   // and after it
        const char* landed;                        // what the real folder holds afterwards, if anything
    };
    const std::string x = xml.string();
    const Row rows[] = {
        {"replace", [&](BundleFiles& f) { ASSERT_TRUE(f.Write(x + "/interface.xml", "new")); }, {}, "interface.xml"},
        {"create", [&](BundleFiles& f) { ASSERT_TRUE(f.Write(x + "/page.htm", "new")); }, {}, "page.htm"},
        {"copy",
         [&](BundleFiles& f) { ASSERT_TRUE(f.Copy((install() / "web/ims_xml.xsd").string(), x + "/a.xsd")); },
         {},
         "a.xsd"},
        {"delete", [&](BundleFiles& f) { ASSERT_TRUE(f.Delete(x + "/question.xml")); }, {}, nullptr},
        {"create a folder", [&](BundleFiles& f) { EXPECT_TRUE(f.Exists(x + "/interface.xml")); },
         [&](BundleFiles& f) { EXPECT_TRUE(f.EnsureFolder(x + "/controls")); }, "controls"},
        {"clear read-only", [&](BundleFiles& f) { EXPECT_TRUE(f.Exists(x + "/interface.xml")); },
         [&](BundleFiles& f) { f.MakeWritable(x + "/locked.txt"); }, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(course);
        fs::remove_all(outside);
        WriteBytes(xml / "interface.xml", kSettings);
        WriteBytes(xml / "question.xml", "old");
        WriteBytes(xml / "locked.txt", "old");
        fs::permissions(xml / "locked.txt", fs::perms::owner_read);
        for (const char* name : {"interface.xml", "question.xml", "page.htm", "a.xsd", "locked.txt"}) {
            WriteBytes(outside / name, "victim's\n");
            fs::permissions(outside / name, fs::perms::owner_read);
        }
        const TreeState victimBefore = ReadTreeState(outside);
        RunReport report;
        {
            BundleFiles files(report);
            files.ConfineTo({courses().string()}, "the starting folder");
            row.before(files);
            SwapForLink(xml, outside);
            if (row.after) row.after(files);
            files.Finish();
        }
        EXPECT_EQ(DescribeChanges(victimBefore, ReadTreeState(outside)), std::vector<std::string>{});
        if (row.landed != nullptr) {
            EXPECT_TRUE(fs::exists(xml.string() + ".away/" + row.landed));
        }
        EXPECT_EQ(report.problemNotes, 0) << report.updatedList;
    }
}

// The same through the whole program, as root: the run is held at its first
// wait for the disk, after every file was checked and staged, while a course
// owner swaps the bundle's xml folder for a link to another user's folder.
TEST_F(HostileRootTest, ARootRunHeldAtItsCommitWritesNothingThroughALinkSwappedIn) {
    if (::geteuid() != 0) GTEST_SKIP() << "runs as root, as the attack needs";
    if (Shell("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace is not installed";
    courselib::GenerateCourses(courses(), 1);
    const fs::path xml = courses() / "course0000" / "xml";
    const fs::path outside = dir() / "victim";
    for (const char* name : {"interface.xml", "imsmanifest.xml", "question.xml"}) {
        WriteBytes(outside / name, "victim's\n");
    }
    const TreeState victimBefore = ReadTreeState(outside);

    // The first sync of the run waits long enough for the swap below, which
    // starts only once the run is seen waiting there.
    const std::vector<std::string> held = {"strace",
                                           "-f",
                                           "-qq",
                                           "-o",
                                           "/dev/null",
                                           "-e",
                                           "trace=syncfs,fsync",
                                           "-e",
                                           "inject=syncfs,fsync:delay_enter=30000000:when=1"};
    std::atomic<bool> swapped = false;
    std::thread owner([&] {
        const auto waitingInSync = [] {
            std::error_code ec;
            for (const auto& process : fs::directory_iterator("/proc", ec)) {
                if (ReadBytes(process.path() / "comm") != "quarvel-batch\n") continue;
                for (const auto& task : fs::directory_iterator(process.path() / "task", ec)) {
                    const std::string call = ReadBytes(task.path() / "syscall");
                    const long number = std::atol(call.c_str());
                    if (number == SYS_syncfs || number == SYS_fsync) return true;
                }
            }
            return false;
        };
        for (int tries = 0; tries < 6000 && !waitingInSync(); ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        SwapForLink(xml, outside);
        swapped = true;
    });
    const LimitedRun run = RunLimited(config, {courses().string()}, [&] {
        RunLimits limits;
        limits.asUser = held;
        return limits;
    }());
    owner.join();
    ASSERT_TRUE(swapped);
    EXPECT_TRUE(run.ended()) << run.exitCode;
    EXPECT_EQ(DescribeChanges(victimBefore, ReadTreeState(outside)), std::vector<std::string>{});
    // The bundle's files went where the run checked them: into the folder it
    // held, renamed away by its owner.
    EXPECT_NE(ReadBytes(xml.string() + ".away/interface.xml").find("<CrsVersion>10.7.0_"), std::string::npos);
}

// Paths of any length: bundles the kernel cannot reach by one path are
// patched, with a bounded number of folders held open.
TEST_F(HostileRootTest, BundlesBeyondTheLongestPathAreWalkedAndPatched) {
    const struct {
        const char* name;
        int levels;
        std::size_t nameLength;
    } rows[] = {
        {"25 folders of 200 characters", 25, 200},
        {"10,000 folders deep", 10000, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        // Made one name at a time: no path this long reaches the kernel whole.
        int folder = ::open(courses().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(folder, 0);
        const std::string name(row.nameLength, 'd');
        for (int level = 0; level < row.levels; ++level) {
            ASSERT_EQ(::mkdirat(folder, name.c_str(), 0777), 0) << level;
            const int next = ::openat(folder, name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            ::close(folder);
            folder = next;
            ASSERT_GE(folder, 0);
        }
        ASSERT_EQ(::mkdirat(folder, "course", 0777), 0);
        const int course = ::openat(folder, "course", O_PATH | O_DIRECTORY | O_CLOEXEC);
        ::close(folder);
        ASSERT_EQ(::mkdirat(course, "xml", 0777), 0);
        const int settings = ::openat(course, "xml/interface.xml", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(settings, 0);
        ASSERT_EQ(::write(settings, kSettings.data(), kSettings.size()), static_cast<ssize_t>(kSettings.size()));
        ::close(settings);

        // Fewer descriptors than the tree has levels.
        RunLimits limits;
        limits.asUser = {"prlimit", "--nofile=512"};
        const LimitedRun run = RunLimited(config, {courses().string()}, limits);
        EXPECT_EQ(run.exitCode, 0) << Log();
        const int manifest = ::openat(course, "imsmanifest.xml", O_RDONLY | O_CLOEXEC);
        EXPECT_GE(manifest, 0) << "no manifest written";
        if (manifest >= 0) ::close(manifest);
        const int rewritten = ::openat(course, "xml/interface.xml", O_RDONLY | O_CLOEXEC);
        std::string bytes(4096, '\0');
        bytes.resize(static_cast<std::size_t>(std::max<ssize_t>(0, ::read(rewritten, bytes.data(), bytes.size()))));
        ::close(rewritten);
        ::close(course);
        EXPECT_NE(bytes.find("<CrsVersion>10.7.0_"), std::string::npos) << bytes;
        fs::remove(install() / "nb_logfile.txt");
        // rm goes down by descriptors; a deep tree is too long for a path-based removal.
        ASSERT_EQ(Shell("rm -rf " + Quote(courses().string())), 0);
        fs::create_directories(courses());
    }
}
