// Power cuts at every moment of a run, taken as atomic snapshots of the disk.
//
// The file system under test lives in an image file on a reflink-capable xfs
// (prepared by tools/crash-test.sh, which passes its mount point in
// QUARVEL_CRASH_DIR). While a job runs on the loop-mounted image, and for 45 s
// after, the image is cloned with `cp --reflink=always`: each clone is what the
// disk would hold if the power went at that instant. Nothing syncs or freezes
// the file system before a clone; that would flush exactly what must be caught.
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "CourseLibrary.h"
#include "reliability/World.h"

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

// Files the runs append to: compared as old content plus whole sections.
const std::vector<std::string> kAppended = {"install/nb_logfile.txt", "install/HTML course descriptions.txt",
                                            "install/VOD info.txt"};

std::string Quote(const fs::path& path) {
    return "'" + path.string() + "'";
}

int Shell(const std::string& command) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool IsAppended(const std::string& path) {
    for (const std::string& a : kAppended) {
        if (a == path) return true;
    }
    return false;
}

// Every regular file below `root` by relative path, with a digest of its bytes
// in place of the bytes (the libraries are hundreds of megabytes); the
// appended files keep their bytes in `appended`.
Snapshot DigestTree(const fs::path& root, std::map<std::string, std::string>* appended = nullptr) {
    Snapshot digests;
    std::vector<char> buffer(1 << 20);
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        const std::string path = entry.path().lexically_relative(root).string();
        // The undo record is the run's own bookkeeping: a record cut short is
        // closed by the next run, and grows with every run.
        if (path.starts_with("install/undo runs/")) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::uint64_t hash = 14695981039346656037ull, size = 0;
        std::string bytes;
        while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
            const auto n = static_cast<std::size_t>(in.gcount());
            for (std::size_t i = 0; i < n; ++i)
                hash = (hash ^ static_cast<unsigned char>(buffer[i])) * 1099511628211ull;
            size += n;
            if (appended != nullptr && IsAppended(path)) bytes.append(buffer.data(), n);
        }
        digests[path] = std::to_string(size) + ":" + std::to_string(hash);
        if (appended != nullptr && IsAppended(path)) (*appended)[path] = std::move(bytes);
    }
    return digests;
}

struct FileSystemKind {
    std::string name;
    std::string type;          // "ext4" or "xfs": which checker replays and checks it
    std::string mkfs;          // the image path follows
    std::string mountOptions;  // xfs clones share their UUID
};
const FileSystemKind kExt4{"ext4", "ext4", "mkfs.ext4 -q -F", "loop"};
const FileSystemKind kXfs{"xfs", "xfs", "mkfs.xfs -q -f", "loop,nouuid"};
// ext4 without the heuristic that writes a file's data when a rename replaces
// it, without ordered data, and committing its journal every second: names
// reach the disk long before data nobody waited for, as on a file system
// that never helps.
const FileSystemKind kExt4Bare{"ext4_bare", "ext4", "mkfs.ext4 -q -F", "loop,data=writeback,noauto_da_alloc,commit=1"};

// A loop mount, undone when it goes out of scope (the loop device goes with it).
class LoopMount {
public:
    LoopMount(const fs::path& image, const fs::path& at, const std::string& options) : m_at(at) {
        fs::create_directories(at);
        m_mounted = Shell("mount -o " + options + " " + Quote(image) + " " + Quote(at)) == 0;
    }
    ~LoopMount() {
        if (m_mounted) Shell("umount " + Quote(m_at));
    }
    LoopMount(const LoopMount&) = delete;
    LoopMount& operator=(const LoopMount&) = delete;
    bool mounted() const { return m_mounted; }

private:
    fs::path m_at;
    bool m_mounted = false;
};

bool Clone(const fs::path& from, const fs::path& to) {
    return Shell("cp --reflink=always " + Quote(from) + " " + Quote(to)) == 0;
}

struct Job {
    std::string name;
    std::vector<std::string> args;  // "@" stands for the mounted library
    int tailSnapshots;              // taken in the 45 s after the run
    int minimumInside;              // snapshots that must fall inside the run
};

struct Case {
    FileSystemKind fs;
    Job job;
};
void PrintTo(const Case& c, std::ostream* out) {
    *out << c.fs.name << " " << c.job.name;
}

// The bytes of an appended file; a file that is not there reads as empty.
std::string BytesOf(const std::map<std::string, std::string>& files, const std::string& path) {
    const auto it = files.find(path);
    return it == files.end() ? std::string() : it->second;
}

struct Totals {
    int snapshots = 0, inside = 0, mixed = 0;
    long files = 0;
};
std::map<std::string, Totals> g_totals;  // by file system

struct Shot {
    fs::path image;
    double from = 0, to = 0;  // seconds since the run started
    bool inside = false;
};

// Clones `image` every `runInterval` while the run goes on, then every
// `tailInterval` until 45 s after the run's end.
class Snapshotter {
public:
    Snapshotter(fs::path image, fs::path folder, Seconds runInterval, Seconds tailInterval)
        : m_image(std::move(image)),
          m_folder(std::move(folder)),
          m_runInterval(runInterval),
          m_tailInterval(tailInterval),
          m_start(Clock::now()) {
        fs::create_directories(m_folder);
        m_thread = std::thread([this] { Loop(); });
    }
    ~Snapshotter() { Finish(); }

    // Marks the run's end and waits out the tail.
    std::vector<Shot> Finish() {
        if (m_thread.joinable()) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_end = Clock::now();
                m_ended = true;
            }
            m_thread.join();
            for (Shot& s : m_shots) s.inside = s.to <= Seconds(m_end - m_start).count();
        }
        return m_shots;
    }
    double RunSeconds() const { return Seconds(m_end - m_start).count(); }
    bool failed() const { return m_failed; }

private:
    void Loop() {
        for (int i = 0;; ++i) {
            const auto t0 = Clock::now();
            bool ended = false;
            Clock::time_point end;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                ended = m_ended;
                end = m_end;
            }
            if (ended && t0 > end + std::chrono::seconds(45)) return;
            std::ostringstream name;
            name << std::setw(3) << std::setfill('0') << i << ".img";
            Shot shot{m_folder / name.str(), Seconds(t0 - m_start).count(), 0, false};
            if (!Clone(m_image, shot.image)) {
                m_failed = true;
                return;
            }
            shot.to = Seconds(Clock::now() - m_start).count();
            m_shots.push_back(shot);
            std::this_thread::sleep_until(
                t0 + std::chrono::duration_cast<Clock::duration>(ended ? m_tailInterval : m_runInterval));
        }
    }

    fs::path m_image, m_folder;
    Seconds m_runInterval, m_tailInterval;
    Clock::time_point m_start, m_end;
    bool m_ended = false, m_failed = false;
    std::mutex m_mutex;
    std::vector<Shot> m_shots;
    std::thread m_thread;
};

std::string Join(const std::vector<std::string>& problems, std::size_t most = 5) {
    std::string text = std::to_string(problems.size()) + " problem(s):";
    for (std::size_t i = 0; i < problems.size() && i < most; ++i) text += "\n  " + problems[i];
    return text;
}

class CrashImageTest : public ::testing::TestWithParam<Case> {
protected:
    static void TearDownTestSuite() {
        for (const auto& [name, t] : g_totals) {
            std::cout << name << ": " << t.snapshots << " snapshots, " << t.inside << " inside the run, " << t.mixed
                      << " of those with old and new files, " << t.files << " files checked\n";
        }
    }

    std::vector<std::string> Args() const {
        std::vector<std::string> args = GetParam().job.args;
        for (std::string& a : args) {
            if (a[0] == '@') a = (mnt / a.substr(1)).string();
        }
        return args;
    }

    // Runs the job on `image`; returns the elapsed seconds.
    double RunOn(const fs::path& image, const Snapshot& expectBefore) {
        LoopMount m(image, mnt, GetParam().fs.mountOptions);
        EXPECT_TRUE(m.mounted());
        EXPECT_TRUE(DigestTree(mnt) == expectBefore) << "the copy differs from the library";
        const auto t0 = Clock::now();
        EXPECT_EQ(RunBatch(config, Args()).exitCode, 0);
        const double seconds = Seconds(Clock::now() - t0).count();
        after = DigestTree(mnt, &newAppended);
        return seconds;
    }

    // Replays the journal or log and checks the file system's structure.
    void Fsck(const fs::path& image) {
        if (GetParam().fs.type == "ext4") {
            EXPECT_LE(Shell("e2fsck -fy " + Quote(image)), 1) << "e2fsck left errors";
            return;
        }
        bool replayed = false;
        {
            LoopMount replay(image, mnt, GetParam().fs.mountOptions);
            replayed = replay.mounted();
        }
        if (!replayed) {
            ADD_FAILURE() << "the xfs log could not be replayed by a mount; zeroing it";
            Shell("xfs_repair -L " + Quote(image));
        }
        EXPECT_EQ(Shell("xfs_repair " + Quote(image)), 0) << "xfs_repair found damage";
    }

    // The appended file is its old bytes plus `copies` whole sections of the run.
    bool OldPlusSections(const std::string& path, const std::string& bytes, int copies) const {
        const std::string old = MaskLogStamps(BytesOf(oldAppended, path));
        const std::string section = MaskLogStamps(BytesOf(newAppended, path)).substr(old.size());
        std::string expected = old;
        for (int i = 0; i < copies; ++i) expected += section;
        return MaskLogStamps(bytes) == expected;
    }

    void CheckSnapshot(const Shot& shot, Totals& totals) {
        SCOPED_TRACE("snapshot " + shot.image.filename().string() + " taken " + std::to_string(shot.from) + "-" +
                     std::to_string(shot.to) + " s after the start");
        Fsck(shot.image);
        std::vector<std::string> problems;
        {
            LoopMount ro(shot.image, mnt, GetParam().fs.mountOptions + ",ro");
            ASSERT_TRUE(ro.mounted());
            std::map<std::string, std::string> appended;
            Snapshot now = DigestTree(mnt, &appended);
            totals.files += static_cast<long>(now.size());
            // Files in neither state are an interrupted run's own (temporary
            // files, append journals): the rerun below must remove them.
            for (auto it = now.begin(); it != now.end();) {
                it = before.count(it->first) == 0 && after.count(it->first) == 0 ? now.erase(it) : ++it;
            }
            problems = CompareWithBeforeAndAfter(before, after, now, kAppended);
            for (const std::string& path : kAppended) {
                const std::string old = MaskLogStamps(BytesOf(oldAppended, path));
                if (MaskLogStamps(BytesOf(appended, path)).compare(0, old.size(), old) != 0) {
                    problems.push_back("appended file lost its old content: " + path);
                }
            }
            int oldFiles = 0, newFiles = 0;
            for (const auto& [path, digest] : after) {
                const auto b = before.find(path);
                if ((b != before.end() && b->second == digest) || IsAppended(path) || now.count(path) == 0) continue;
                if (now[path] == digest) ++newFiles;
                if (b != before.end() && now[path] == b->second) ++oldFiles;
            }
            if (shot.inside && oldFiles > 0 && newFiles > 0) ++totals.mixed;
        }
        EXPECT_TRUE(problems.empty()) << "after the power cut, " << Join(problems);

        // A run on the snapshot gives the single-run result, with no litter.
        LoopMount rw(shot.image, mnt, GetParam().fs.mountOptions);
        ASSERT_TRUE(rw.mounted());
        EXPECT_EQ(RunBatch(config, Args()).exitCode, 0);
        std::map<std::string, std::string> appended;
        const Snapshot rerun = DigestTree(mnt, &appended);
        problems.clear();
        for (const auto& [path, digest] : rerun) {
            if (after.count(path) == 0) problems.push_back("litter: " + path);
        }
        for (const auto& [path, digest] : after) {
            const auto r = rerun.find(path);
            if (r == rerun.end()) {
                problems.push_back("missing: " + path);
            } else if (IsAppended(path)) {
                if (!OldPlusSections(path, BytesOf(appended, path), 1) &&
                    !OldPlusSections(path, BytesOf(appended, path), 2)) {
                    problems.push_back("not its old content plus whole sections: " + path);
                }
            } else if (r->second != digest) {
                problems.push_back("differs from a single run: " + path);
            }
        }
        EXPECT_TRUE(problems.empty()) << "after the rerun, " << Join(problems);
    }

    fs::path work, mnt, config;
    Snapshot before, after;
    std::map<std::string, std::string> oldAppended, newAppended;
};

TEST_P(CrashImageTest, EveryFileOldOrNewAtEveryInstant) {
    const char* root = std::getenv("QUARVEL_CRASH_DIR");
    if (root == nullptr) GTEST_SKIP() << "run through tools/crash-test.sh (root, loop devices, a reflink xfs)";
    const Case& c = GetParam();
    work = fs::path(root) / (c.fs.name + "-" + c.job.name);
    mnt = work / "mnt";
    config = work / "quarvel.conf";
    fs::remove_all(work);
    fs::create_directories(work);
    WriteBytes(config, "NB Path=" + (mnt / "install").string() + "\n");
    // A run of this size fits in one commit; many small ones let the
    // snapshots fall between commits, where old and new files stand side by side.
    ::setenv("QUARVEL_COMMIT_BYTES", "1048576", 1);

    // The library, on a file system unmounted (so written out) before any run.
    const fs::path base = work / "base.img";
    ASSERT_EQ(Shell("truncate -s 1G " + Quote(base)), 0);
    ASSERT_EQ(Shell(c.fs.mkfs + " " + Quote(base)), 0);
    {
        LoopMount m(base, mnt, c.fs.mountOptions);
        ASSERT_TRUE(m.mounted());
        courselib::GenerateInstallation(mnt / "install", {20000, 2000, 20000});
        WriteBytes(mnt / "install" / "nb_logfile.txt", "\xFF\xFE" + Utf16LeBytes("An earlier run.\r\n"));
        courselib::GenerateCourses(mnt / "courses", 80);
        courselib::GenerateVideos(mnt / "videos", 100);
        before = DigestTree(mnt, &oldAppended);
    }

    // The new bytes: an uninterrupted run on an identical copy.
    const fs::path reference = work / "reference.img";
    ASSERT_TRUE(Clone(base, reference));
    const double runSeconds = RunOn(reference, before);
    fs::remove(reference);
    ASSERT_FALSE(HasFailure());
    ASSERT_NE(before, after) << "the run changed nothing";

    Totals& totals = g_totals[c.fs.name];
    int inside = 0;
    // A slow or busy machine leaves fewer snapshots inside a run: the run is
    // made again on a fresh copy until enough have fallen inside.
    for (int round = 0; round < 6 && inside < c.job.minimumInside && !HasFailure(); ++round) {
        const fs::path live = work / "live.img";
        ASSERT_TRUE(Clone(base, live));
        std::vector<Shot> shots;
        double liveSeconds = 0;
        {
            LoopMount m(live, mnt, c.fs.mountOptions);
            ASSERT_TRUE(m.mounted());
            Snapshotter snapshotter(live, work / "shots", Seconds(runSeconds / (c.job.minimumInside + 4)),
                                    Seconds(45.0 / c.job.tailSnapshots));
            EXPECT_EQ(RunBatch(config, Args()).exitCode, 0);
            shots = snapshotter.Finish();
            liveSeconds = snapshotter.RunSeconds();
            EXPECT_FALSE(snapshotter.failed())
                << "cp --reflink=always failed (is the outer file system xfs with reflink?)";
        }
        fs::remove(live);

        const auto checkStart = Clock::now();
        int insideNow = 0;
        for (const Shot& shot : shots) {
            insideNow += shot.inside ? 1 : 0;
            CheckSnapshot(shot, totals);
            fs::remove(shot.image);
        }
        inside += insideNow;
        totals.snapshots += static_cast<int>(shots.size());
        totals.inside += insideNow;
        std::cout << c.fs.name << " " << c.job.name << ": run " << liveSeconds << " s, " << shots.size()
                  << " snapshots, " << insideNow << " inside the run, checked in "
                  << Seconds(Clock::now() - checkStart).count() << " s\n";
    }
    EXPECT_GE(inside, c.job.minimumInside) << "the run is too short for its snapshots";
}

const Job kMain{"main", {"exitStatusMode=PassedIncomplete", "updateDescriptionsFromHtml=true", "@courses"}, 18, 12};
const Job kVod{"vod", {"createVodPackages=true", "@videos"}, 6, 2};
const Job kSpreadsheet{"spreadsheet", {"updateFromSpreadsheet=true"}, 6, 1};

INSTANTIATE_TEST_SUITE_P(Images, CrashImageTest,
                         // ext4 takes the other jobs' snapshots too, so fewer of the main job's; the
                         // bare ext4 is there for the moments inside the run, where nothing helps
                         ::testing::Values(Case{kExt4, {kMain.name, kMain.args, 8, 12}}, Case{kExt4, kVod},
                                           Case{kExt4, kSpreadsheet}, Case{kXfs, kMain},
                                           Case{kExt4Bare, {kMain.name, kMain.args, 3, 8}}),
                         [](const auto& row) { return row.param.fs.name + "_" + row.param.job.name; });

}  // namespace
