#include "bundle/CountBundles.h"
#include "bundle/SettingsFile.h"
#include "support/TestSupport.h"

namespace {

using std::chrono::milliseconds;

// Records what the job says of its progress.
class ProgressUser : public FakeUser {
public:
    std::vector<int> totals;  // every SetProgressTotal
    int reports = 0;
    bool totalBeforeFirstReport = false;

    void SetProgressTotal(int total) override {
        totals.push_back(total);
        totalBeforeFirstReport = reports == 0;
    }
    Progress ReportProgress(int done, const std::string&) override {
        reports = done;
        return Progress::Continue;
    }
};

class CountBundlesTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        install = MakeInstall(dir());
    }
    void Bundle(const std::string& xmlFolder) { WriteBytes(dir() / xmlFolder / "interface.xml", kSettings); }
    // The job's own run over `folder`: what it counted, and how many it did.
    ProgressUser RunJob(const std::string& folder, bool vod) {
        ProgressUser user;
        CourseSettings settings = DefaultOkSettings();
        settings.createVodPackages = vod;
        user.settings = settings;
        user.folder = path(folder);
        platform::FixedClock clock{TestTime()};
        QuarvelRun run(user, clock, install.store());
        run.RunSelectedJob();
        return user;
    }

    const std::string kSettings = MinimalInterfaceFile(false);
    TestInstall install;
};

}  // namespace

TEST(DescribeProgressTest, CountsTheTotalAndTheTimeLeft) {
    const struct {
        int done, expected;
        milliseconds elapsed;
        int total;
        const char* count;
        const char* timeLeft;
    } rows[] = {
        {0, kTotalUnknown, milliseconds(0), kTotalUnknown, "Done so far: 0", ""},
        {3, kTotalUnknown, milliseconds(60'000), kTotalUnknown, "Done so far: 3", ""},
        {0, 40, milliseconds(0), 40, "0 of 40", ""},
        {10, 40, milliseconds(999), 40, "10 of 40", ""},  // too soon to tell
        {10, 40, milliseconds(10'000), 40, "10 of 40", "about 30 s left"},
        {1, 40, milliseconds(1'001), 40, "1 of 40", "about 40 s left"},  // 39.04 s, up to the next five
        {1, 3, milliseconds(1'000), 3, "1 of 3", "about 5 s left"},
        {1, 2, milliseconds(56'000), 2, "1 of 2", "about 1 min left"},  // 56 s: not "60 s"
        {10, 40, milliseconds(20'000), 40, "10 of 40", "about 1 min left"},
        {10, 20, milliseconds(595'000), 20, "10 of 20", "about 10 min left"},
        {50, 100, milliseconds(3'570'000), 100, "50 of 100", "about 1 h 00 min left"},
        {1, 1000, milliseconds(10'000), 1000, "1 of 1000", "about 2 h 47 min left"},
        {40, 40, milliseconds(100'000), 40, "40 of 40", ""},
        // The count was an estimate: the total never falls below what is done.
        {45, 40, milliseconds(100'000), 45, "45 of 45", ""},
        {1, 0, milliseconds(5'000), 1, "1 of 1", ""},
        {0, 0, milliseconds(0), 0, "0 of 0", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.done) + " of " + std::to_string(row.expected) + " after " +
                     std::to_string(row.elapsed.count()) + " ms");
        const ProgressView view = DescribeProgress(row.done, row.expected, row.elapsed);
        EXPECT_EQ(view.done, row.done);
        EXPECT_EQ(view.total, row.total);
        EXPECT_EQ(view.count, row.count);
        EXPECT_EQ(view.timeLeft, row.timeLeft);
    }
}

TEST_F(CountBundlesTest, TheCountIsWhatTheMainJobPatches) {
    Bundle("courses/a_one/xml");
    Bundle("courses/b_two/XML");                  // any letter case
    Bundle("courses/c_three/Xml_old");            // xml* is a settings folder too
    Bundle("courses/d_nested/xml");               // a bundle below a bundle's folder
    Bundle("courses/d_nested/parts/e_part/xml");  //
    Bundle("courses/deep/er/still/f_deep/xml");
    WriteBytes(dir() / "courses/g_other_player/fsscorm.js", "");  // left alone, with all below it
    Bundle("courses/g_other_player/xml");
    Bundle("courses/g_other_player/inner/xml");
    fs::create_directories(dir() / "courses/h_no_settings/xml");                 // no interface.xml
    WriteBytes(dir() / "courses/i_file_named_xml/xml", "a file, not a folder");  //
    fs::create_directories(dir() / "courses/j_vid_new/media");                   // a VOD folder the walk gives a file
    Bundle("courses/k_vid_old/xml");                                             // a VOD folder that has one
    if (kPosixFileSystem) {
        // A link back into the library: its bundles are patched once.
        fs::create_directory_symlink(dir() / "courses/a_one", dir() / "courses/z_link");
    }
    EXPECT_EQ(CountCourseBundles(path("courses")), 8);
    const ProgressUser user = RunJob("courses", false);
    ASSERT_EQ(user.totals, std::vector<int>{8});
    EXPECT_TRUE(user.totalBeforeFirstReport);
    EXPECT_EQ(user.reports, 8);
}

TEST_F(CountBundlesTest, TheCountIsWhatTheVodJobPackages) {
    WriteBytes(dir() / "content/intro_vid_a.mp4", "video");
    WriteBytes(dir() / "content/notes.txt", "");
    WriteBytes(dir() / "content/one/FIRE_VID_B.MP4", "video");  // any letter case
    WriteBytes(dir() / "content/one/fire_vid_c.mp4", "video");
    WriteBytes(dir() / "content/one/two/safety_vid_d.mp4", "video");
    WriteBytes(dir() / "content/one/two/plain.mp4", "not a course video");
    fs::create_directories(dir() / "content/folder_vid_e.mp4");  // a folder named like one
    EXPECT_EQ(CountVodVideos(path("content")), 4);
    const ProgressUser user = RunJob("content", true);
    ASSERT_EQ(user.totals, std::vector<int>{4});
    EXPECT_TRUE(user.totalBeforeFirstReport);
    EXPECT_EQ(user.reports, 4);
}

TEST_F(CountBundlesTest, AnEmptyOrMissingFolderCountsNothing) {
    fs::create_directories(dir() / "empty");
    EXPECT_EQ(CountCourseBundles(path("empty")), 0);
    EXPECT_EQ(CountVodVideos(path("empty")), 0);
    EXPECT_EQ(CountCourseBundles(path("missing")), 0);
    EXPECT_EQ(CountVodVideos(path("missing")), 0);
}
