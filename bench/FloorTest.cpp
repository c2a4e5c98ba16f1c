// The floors stand in for the run's own file I/O: they must write as many
// files and about as many bytes as the run does, and the durable floor must
// write new files and end with one syncfs and no other flush. Otherwise the
// ratios the benchmark prints compare the run with something else.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "CourseLibrary.h"

namespace fs = std::filesystem;

namespace {

struct FileState {
    // Birth time: a file written anew gets a new one (inode numbers are reused at once).
    long long born = 0;
    std::string bytes;
};
using Tree = std::map<std::string, FileState>;

Tree Snapshot(const fs::path& root) {
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        struct statx st {};
        EXPECT_EQ(::statx(AT_FDCWD, entry.path().c_str(), 0, STATX_BTIME, &st), 0) << entry.path();
        EXPECT_TRUE(st.stx_mask & STATX_BTIME) << "no birth times on this file system";
        std::ifstream in(entry.path(), std::ios::binary);
        tree[fs::relative(entry.path(), root).string()] = {st.stx_btime.tv_sec * 1000000000LL + st.stx_btime.tv_nsec,
                                                           {std::istreambuf_iterator<char>(in), {}}};
    }
    return tree;
}

// What a program wrote into a tree: files created or changed, their bytes, and
// how many of them are still the file they were before.
struct Written {
    std::size_t files = 0;
    std::size_t bytes = 0;
    std::size_t sameFile = 0;
};

Written CompareTrees(const Tree& before, const Tree& after) {
    Written written;
    for (const auto& [name, state] : after) {
        const auto old = before.find(name);
        if (old != before.end() && old->second.bytes == state.bytes) continue;
        ++written.files;
        written.bytes += state.bytes.size();
        if (old != before.end() && old->second.born == state.born) ++written.sameFile;
    }
    return written;
}

int Shell(const std::string& command) {
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

class FloorTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quarvel-floor-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        courselib::GenerateInstallation(m_dir / "master" / "install", {0, 0, 200});
        // Eight bundles cover each of the four layouts twice.
        courselib::GenerateCourses(m_dir / "master" / "lib", 8);
        courselib::GenerateVideos(m_dir / "master" / "videos", 3);
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(m_dir);
    }

    // A copy of the installation, library and videos for one program.
    fs::path Prepare(const std::string& name) {
        const fs::path root = m_dir / name;
        fs::copy(m_dir / "master", root, fs::copy_options::recursive);
        std::ofstream(root / "quarvel.conf") << "NB Path=" << (root / "install").string() << "\n";
        return root;
    }

    // What `command` (run with the copy's store file) wrote into a fresh copy.
    Written WrittenBy(const std::string& name, const std::string& command) {
        const fs::path root = Prepare(name);
        const Tree before = Snapshot(root);
        EXPECT_EQ(Shell("cd " + Quoted(root) + " && QUARVEL_CONFIG=quarvel.conf " + command + " >/dev/null"), 0)
            << command;
        return CompareTrees(before, Snapshot(root));
    }

    fs::path m_dir;
};

TEST_F(FloorTest, FloorsWriteWhatTheMainJobWrites) {
    const Written run =
        // The job's own files: the undo record is timed on its own.
        WrittenBy("run",
                  QUARVEL_BATCH " keepUndoRuns=0 updateDescriptionsFromHtml=true exitStatusMode=PassedIncomplete lib");
    ASSERT_GT(run.files, 8u * 40u);  // every bundle gets its settings, pages and assets
    const struct {
        const char* name;
        const char* flag;
        bool newFiles;
    } rows[] = {{"plain", "", false}, {"durable", " --durable", true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Written floor = WrittenBy(row.name, std::string(QUARVEL_BENCH_FLOOR) + row.flag + " bundles install lib");
        EXPECT_EQ(floor.files, run.files);
        EXPECT_NEAR(static_cast<double>(floor.bytes), static_cast<double>(run.bytes), 0.02 * run.bytes);
        // The durable floor writes every file as a new file, as a replace by rename does.
        if (row.newFiles) {
            EXPECT_EQ(floor.sameFile, 0u);
        } else {
            EXPECT_GT(floor.sameFile, 0u);
        }
    }
}

struct SyncRow {
    const char* name;
    const char* arguments;
    int syncfsCalls;
};

void PrintTo(const SyncRow& row, std::ostream* out) {
    *out << row.name;
}

class FloorSyncTest : public FloorTest, public ::testing::WithParamInterface<SyncRow> {};

// The plain floor flushes nothing itself; the durable floor flushes once, with
// syncfs, and never file by file.
TEST_P(FloorSyncTest, FlushesOnlyOnceAtTheEnd) {
    const fs::path root = Prepare("sync");
    // The leak checker of a sanitizer build cannot work under ptrace: it is left out for the traced program.
    const std::string command = "cd " + Quoted(root) +
                                " && ASAN_OPTIONS=detect_leaks=0 strace -f -qq -o trace "
                                "-e trace=sync,syncfs,fsync,fdatasync,sync_file_range " +
                                QUARVEL_BENCH_FLOOR + " " + GetParam().arguments + " >/dev/null";
    ASSERT_EQ(Shell(command), 0) << "strace is needed (tools/install-deps.sh)";
    std::ifstream trace(root / "trace");
    int syncfs = 0, other = 0;
    for (std::string line; std::getline(trace, line);) {
        if (line.find("syncfs(") != std::string::npos) {
            ++syncfs;
            EXPECT_NE(line.find("= 0"), std::string::npos) << line;
        } else if (line.find('(') != std::string::npos) {
            ++other;
            ADD_FAILURE() << line;
        }
    }
    EXPECT_EQ(syncfs, GetParam().syncfsCalls);
    EXPECT_EQ(other, 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, FloorSyncTest,
                         ::testing::Values(SyncRow{"bundles", "bundles install lib", 0},
                                           SyncRow{"bundlesDurable", "--durable bundles install lib", 1},
                                           SyncRow{"vod", "vod install videos packages", 0},
                                           SyncRow{"vodDurable", "--durable vod install videos packages", 1},
                                           SyncRow{"copy", "copy install/spreadsheet.txt sheet", 0},
                                           SyncRow{"copyDurable", "--durable copy install/spreadsheet.txt sheet", 1}),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
