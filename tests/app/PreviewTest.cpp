#include <algorithm>
#include <set>

#include "support/TestSupport.h"

namespace {

// Every entry below the folders, with what a run may change of it.
std::map<std::string, std::string> Snapshot(const std::vector<fs::path>& roots) {
    std::map<std::string, std::string> entries;
    for (const fs::path& root : roots) {
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            const fs::path& path = entry.path();
            if (path.generic_string().find("/undo runs") != std::string::npos)
                continue;  // the run's record, not the tree
            if (entry.is_directory()) {
                entries[path.generic_string()] = "folder";
            } else {
                entries[path.generic_string()] =
                    ReadBytes(path) + "|" + std::to_string(static_cast<int>(fs::status(path).permissions())) + "|" +
                    std::to_string(fs::last_write_time(path).time_since_epoch().count());
            }
        }
    }
    return entries;
}

// The paths a change list names (the verb dropped).
std::set<std::string> PathsOf(const std::vector<std::string>& changes) {
    std::set<std::string> paths;
    for (const std::string& change : changes)
        paths.insert(fs::path(change.substr(change.find(' ') + 1)).generic_string());
    return paths;
}

class PreviewTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        const fs::path sample = fs::path(QUARVEL_SOURCE_DIR) / "sample";
        install = MakeInstall(dir());
        fs::copy(sample / "install", install.installFolder,
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        fs::copy(fs::path(QUARVEL_SOURCE_DIR) / "res/schemas", install.installFolder / "schemas",
                 fs::copy_options::recursive);
        fs::copy(sample / "courses", dir() / "courses", fs::copy_options::recursive);
        fs::copy(sample / "videos", dir() / "videos", fs::copy_options::recursive);
    }
    RunSummary Run(const CourseSettings& settings, const std::string& folder, bool preview) {
        FakeUser user;
        user.settings = settings;
        user.folder = path(folder);
        QuarvelRun run(user, clock, install.store());
        if (preview) run.PreviewOnly();
        run.RunSelectedJob();
        return run.Summary();
    }

    TestInstall install;
    platform::FixedClock clock{TestTime()};
};

TEST_F(PreviewTest, APreviewWritesNothingAndListsWhatTheRunThenChanges) {
    const auto with = [](auto change) {
        CourseSettings settings = DefaultOkSettings();
        change(settings);
        return settings;
    };
    const struct {
        const char* name;
        CourseSettings settings;
        const char* folder;
        int firstRuns;  // real runs before the preview
    } rows[] = {
        {"main job", DefaultOkSettings(), "courses", 0},
        {"main job again, nothing to change", DefaultOkSettings(), "courses", 1},
        {"xAPI", with([](CourseSettings& s) { s.packageType = PackageType::Xapi; }), "courses", 0},
        {"SCORM 2004, zipped and checked", with([](CourseSettings& s) {
             s.packageType = PackageType::Scorm2004;
             s.zipPackages = s.validatePackages = true;
         }),
         "courses", 0},
        {"after another job's run, with bitmaps deleted", with([](CourseSettings& s) { s.deleteBmp = true; }),
         "courses", 1},
        {"VOD packages", with([](CourseSettings& s) { s.createVodPackages = true; }), "videos", 0},
        {"the main job over VOD packages", DefaultOkSettings(), "install/vod packages", 0},
        {"spreadsheet", with([](CourseSettings& s) { s.updateFromSpreadsheet = true; }), "", 0},
    };
    const std::vector<fs::path> roots = {dir() / "courses", dir() / "videos", install.installFolder};
    CourseSettings vod = DefaultOkSettings();
    vod.createVodPackages = true;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (std::string_view(row.folder).starts_with("install")) Run(vod, "videos", false);
        for (int i = 0; i < row.firstRuns; ++i) Run(DefaultOkSettings(), row.folder, false);
        // A read-only file that the run makes writable and rewrites.
        fs::permissions(dir() / "courses/fire101/imsmanifest.xml", fs::perms::owner_write, fs::perm_options::remove);

        const auto before = Snapshot(roots);
        const RunSummary preview = Run(row.settings, row.folder, true);
        EXPECT_EQ(Snapshot(roots), before);
        const RunSummary real = Run(row.settings, row.folder, false);
        // The same, though not in the same order: the run changes files a commit at a time.
        const auto sorted = [](std::vector<std::string> lines) {
            std::sort(lines.begin(), lines.end());
            return lines;
        };
        EXPECT_EQ(sorted(preview.changes), sorted(real.changes));
        EXPECT_EQ(sorted(preview.problems), sorted(real.problems));
        EXPECT_EQ(preview.bundlesPatched, real.bundlesPatched);

        // What the run says it changed is what changed.
        const auto after = Snapshot(roots);
        std::set<std::string> changed;
        for (const auto& [path, state] : after) {
            if (!before.contains(path) || before.at(path) != state) changed.insert(path);
        }
        for (const auto& [path, state] : before) {
            if (!after.contains(path)) changed.insert(path);
        }
        EXPECT_EQ(PathsOf(real.changes), changed);
    }
}

}  // namespace
