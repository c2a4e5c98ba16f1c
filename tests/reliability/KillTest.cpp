#include <algorithm>
#include <chrono>
#include <random>

#include "CourseLibrary.h"
#include "World.h"

namespace {

const std::string kLog = "install/nb_logfile.txt";

// Each run's undo record is new, whatever a kill interrupted: the undo tests judge it.
Snapshot TreeWithoutUndoRecords(const fs::path& root) {
    Snapshot snapshot = TakeSnapshot(root);
    std::erase_if(snapshot, [](const auto& entry) { return entry.first.starts_with("install/undo runs/"); });
    return snapshot;
}

// Runs each job over a generated library, kills it at random moments, and
// checks that every file is whole: its bytes from before the run or from an
// uninterrupted run.
class KillTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        pristine = dir() / "pristine";
        live = dir() / "live";
        courselib::GenerateInstallation(pristine / "install", {20, 20, 60});
        courselib::GenerateCourses(pristine / "courses", 24);
        courselib::GenerateVideos(pristine / "videos", 20);
        WriteBytes(pristine / "install" / "nb_logfile.txt", std::string("\xFF\xFE"
                                                                        "o\0l\0d\0",
                                                                        8));
        config = dir() / "quarvel.conf";
        WriteBytes(config, "NB Path=" + (live / "install").string() + "\n");
    }

    // Returns the number of kills that landed while the run was still going,
    // which must be at least a fifth of them (the spreadsheet job lasts a
    // fraction of a second, so on a busy machine fewer land than the spread suggests).
    int KillRepeatedly(const std::vector<std::string>& args, int kills, bool rerunAfterKill) {
        CopyTree(pristine, live);
        const Snapshot before = TreeWithoutUndoRecords(live);
        // The kill moments spread over the quickest of three runs: the first
        // run of a program is often the slowest, and a moment after the end
        // kills nothing.
        long micros = 0;
        for (int i = 0; i < 3; ++i) {
            CopyTree(pristine, live);
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(RunBatch(config, args).exitCode, 0);
            const long took =
                std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
            micros = i == 0 ? took : std::min(micros, took);
        }
        const Snapshot after = TreeWithoutUndoRecords(live);
        EXPECT_NE(before, after) << "the uninterrupted run changed nothing";

        std::mt19937 random(12345);
        std::uniform_int_distribution<long> moment(0, micros + micros / 10);
        int interrupted = 0;
        for (int k = 0; k < kills && !HasFailure(); ++k) {
            CopyTree(pristine, live);
            const long at = moment(random);
            const BatchRun killed = RunBatch(config, args, at);
            if (killed.exitCode == -1) ++interrupted;
            SCOPED_TRACE("kill " + std::to_string(k) + " after " + std::to_string(at) + " us");
            const Snapshot now = TreeWithoutUndoRecords(live);
            for (const std::string& problem : CompareWithBeforeAndAfter(before, after, now, {kLog})) {
                ADD_FAILURE() << problem;
            }
            const std::string log = MaskLogStamps(now.at(kLog));
            EXPECT_TRUE(log == MaskLogStamps(before.at(kLog)) || log == MaskLogStamps(after.at(kLog)));
            if (!rerunAfterKill) continue;

            // A complete run afterwards gives exactly the uninterrupted result.
            EXPECT_EQ(RunBatch(config, args).exitCode, 0);
            Snapshot rerun = TreeWithoutUndoRecords(live);
            const std::string rerunLog = MaskLogStamps(rerun.at(kLog));
            const std::string section = MaskLogStamps(after.at(kLog)).substr(before.at(kLog).size());
            EXPECT_EQ(rerunLog.substr(0, before.at(kLog).size()), before.at(kLog));
            EXPECT_EQ(rerunLog.substr(rerunLog.size() - section.size()), section);
            rerun.erase(kLog);
            Snapshot expected = after;
            expected.erase(kLog);
            for (const auto& [path, bytes] : rerun) {
                if (IsTempLitter(path) && path.rfind("courses/", 0) == 0) ADD_FAILURE() << "litter left: " << path;
            }
            for (auto it = rerun.begin(); it != rerun.end();) it = IsTempLitter(it->first) ? rerun.erase(it) : ++it;
            EXPECT_TRUE(rerun == expected);
        }
        // Kills that land after the run has ended test nothing.
        if (!HasFailure()) {
            EXPECT_GE(5 * interrupted, kills)
                << "only " << interrupted << " of " << kills << " kills landed in the run";
        }
        return interrupted;
    }

    fs::path pristine, live, config;
};

TEST_F(KillTest, MainJobScorm) {
    const int n = KillRepeatedly(
        {"exitStatusMode=PassedIncomplete", "updateDescriptionsFromHtml=true", (live / "courses").string()}, 100, true);
    std::cout << "main job (SCORM 1.2): " << n << " of 100 kills landed during the run\n";
}

TEST_F(KillTest, MainJobXapi) {
    const int n = KillRepeatedly(
        {"packageType=Xapi", "exitStatusMode=CompletedIncomplete", (live / "courses").string()}, 40, true);
    std::cout << "main job (xAPI): " << n << " of 40 kills landed during the run\n";
}

TEST_F(KillTest, VodJob) {
    const int n = KillRepeatedly({"createVodPackages=true", (live / "videos").string()}, 40, true);
    std::cout << "VOD job: " << n << " of 40 kills landed during the run\n";
}

TEST_F(KillTest, SpreadsheetJob) {
    const int n = KillRepeatedly({"updateFromSpreadsheet=true"}, 30, false);
    std::cout << "spreadsheet job: " << n << " of 30 kills landed during the run\n";
}

}  // namespace
