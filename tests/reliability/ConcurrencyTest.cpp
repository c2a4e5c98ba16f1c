#include <algorithm>
#include <functional>
#include <map>
#include <thread>

#include "CourseLibrary.h"
#include "World.h"

namespace {

// The files of the installation that runs append to.
const std::vector<std::string> kAppended = {"nb_logfile.txt", "HTML course descriptions.txt", "VOD info.txt"};
using Files = std::map<std::string, std::string>;

// The lines of `bytes` (cut after each LF byte, which also cuts UTF-16LE text
// at its line ends), sorted.
std::vector<std::string> SortedLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t lf = bytes.find('\n'); start < bytes.size(); lf = bytes.find('\n', start)) {
        const std::size_t end = lf == std::string::npos ? bytes.size() : lf + 1;
        lines.push_back(bytes.substr(start, end - start));
        start = end;
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

// Empty when `actual` holds exactly the lines of `expected`; otherwise what is
// missing and what is extra.
std::string LineDifference(const std::string& expected, const std::string& actual) {
    const std::vector<std::string> e = SortedLines(expected), a = SortedLines(actual);
    std::vector<std::string> missing, extra;
    std::set_difference(e.begin(), e.end(), a.begin(), a.end(), std::back_inserter(missing));
    std::set_difference(a.begin(), a.end(), e.begin(), e.end(), std::back_inserter(extra));
    if (missing.empty() && extra.empty()) return "";
    std::string text = std::to_string(missing.size()) + " line(s) missing, " + std::to_string(extra.size()) + " extra";
    if (!extra.empty()) text += "; first extra: " + extra.front();
    text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());  // UTF-16 of ASCII, made readable
    return text;
}

// Two runs with one installation at the same moment, over and over: neither
// may lose the other's appended lines, nor disturb the other's files.
class ConcurrencyTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        install = dir() / "install";
        courselib::GenerateInstallation(install, {5000, 5000, 60});
        // Catalogues and a patch log of a few megabytes, as years of runs
        // leave them: long enough to copy for two runs to overlap.
        std::string log("\xFF\xFE", 2);
        const std::string line = Utf16LeBytes("Course bundle from an earlier year: updated\r\n");
        while (log.size() < 4'000'000) log += line;
        WriteBytes(install / "nb_logfile.txt", log);
        for (const fs::path& config : {configA, configB}) {
            WriteBytes(dir() / config, "NB Path=" + install.string() + "\n");
        }
    }

    Files Appended() const {
        Files files;
        for (const std::string& name : kAppended) {
            files[name] = fs::exists(install / name) ? MaskLogStamps(ReadBytes(install / name)) : "";
        }
        return files;
    }
    void Restore(const Files& files) const {
        for (const auto& [name, bytes] : files) WriteBytes(install / name, bytes);
    }

    // What a run of `args` alone appends to each file, run on a tree it has
    // already patched (as every round below does).
    Files AddedAlone(const fs::path& config, const std::vector<std::string>& args, const Files& old) {
        EXPECT_EQ(RunBatch(dir() / config, args).exitCode, 0);
        Restore(old);
        EXPECT_EQ(RunBatch(dir() / config, args).exitCode, 0);
        Files added = Appended();
        for (auto& [name, bytes] : added) bytes = bytes.substr(old.at(name).size());
        Restore(old);
        return added;
    }

    // Runs `a` and `b` at once `rounds` times; each appended file must end up
    // with its old lines and each run's lines once. Returns the rounds that lost
    // or duplicated lines.
    int RunTogether(const std::vector<std::string>& a, const std::vector<std::string>& b, int rounds,
                    const std::string& bothPrint = "", const std::function<void()>& afterRound = {}) {
        const Files old = Appended();
        const Files addedA = AddedAlone(configA, a, old);
        const Files addedB = AddedAlone(configB, b, old);
        int bad = 0;
        for (int round = 0; round < rounds; ++round) {
            SCOPED_TRACE("round " + std::to_string(round));
            Restore(old);
            BatchRun runA, runB;
            std::thread other([&] { runB = RunBatch(dir() / configB, b); });
            runA = RunBatch(dir() / configA, a);
            other.join();
            EXPECT_EQ(runA.exitCode, 0);
            EXPECT_EQ(runB.exitCode, 0);
            if (!bothPrint.empty()) {
                EXPECT_NE(runA.output.find(bothPrint), std::string::npos) << runA.output;
                EXPECT_NE(runB.output.find(bothPrint), std::string::npos) << runB.output;
            }
            const Files now = Appended();
            bool lost = false;
            for (const std::string& name : kAppended) {
                const std::string difference =
                    LineDifference(old.at(name) + addedA.at(name) + addedB.at(name), now.at(name));
                EXPECT_EQ(difference, "") << name;
                lost = lost || !difference.empty();
            }
            bad += lost ? 1 : 0;
            if (afterRound) afterRound();
        }
        return bad;
    }

    std::vector<std::string> MainJob(const std::string& tree) const {
        return {"exitStatusMode=PassedIncomplete", (dir() / tree).string()};
    }

    fs::path install;
    const fs::path configA = "a/quarvel.conf", configB = "b/quarvel.conf";
};

TEST_F(ConcurrencyTest, TwoMainJobsOverDifferentTreesKeepBothSections) {
    courselib::GenerateCourses(dir() / "treeA", 1);
    courselib::GenerateCourses(dir() / "treeB", 1, 2);
    const int bad = RunTogether(MainJob("treeA"), MainJob("treeB"), 50);
    std::cout << "main + main: " << bad << " of 50 rounds lost or repeated a section\n";
}

TEST_F(ConcurrencyTest, TwoSpreadsheetJobsKeepEveryCatalogueLine) {
    const int bad = RunTogether({"updateFromSpreadsheet=true"}, {"updateFromSpreadsheet=true"}, 50, "Files updated");
    std::cout << "spreadsheet + spreadsheet: " << bad << " of 50 rounds lost or repeated catalogue lines\n";
}

TEST_F(ConcurrencyTest, MainJobAndVodJobKeepBothSections) {
    courselib::GenerateCourses(dir() / "treeA", 1);
    courselib::GenerateVideos(dir() / "videos", 3);
    const int bad = RunTogether(MainJob("treeA"), {"createVodPackages=true", (dir() / "videos").string()}, 50);
    std::cout << "main + VOD: " << bad << " of 50 rounds lost or repeated lines\n";
}

// Two runs over the same tree: neither removes the other's files in flight,
// so neither notes a failure, and the tree is what one run makes of it.
TEST_F(ConcurrencyTest, TwoMainJobsOverTheSameTreeGiveTheSingleRunResult) {
    courselib::GenerateCourses(dir() / "tree", 2);
    const Snapshot pristine = TakeSnapshot(dir() / "tree");
    ASSERT_EQ(RunBatch(dir() / configA, MainJob("tree")).exitCode, 0);
    const Snapshot single = TakeSnapshot(dir() / "tree");
    ASSERT_NE(single, pristine);
    const int bad = RunTogether(MainJob("tree"), MainJob("tree"), 50, "", [&] {
        EXPECT_TRUE(TakeSnapshot(dir() / "tree") == single) << "the tree differs from a single run's, or holds litter";
    });
    std::cout << "main + main over one tree: " << bad << " of 50 rounds with notes a single run does not write\n";
}

}  // namespace
