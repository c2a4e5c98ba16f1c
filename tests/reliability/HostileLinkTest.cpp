// Links in course trees and video folders: nothing outside the starting
// folder (or, for the VOD job, outside the content folder and the packages
// folder) is written, replaced, deleted or copied out through one.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "HostileFixture.h"

namespace {

std::string Flat(std::string path) {
    std::replace(path.begin(), path.end(), '/', '_');
    return path;
}

// Every path in `paths` and each folder above it, below the root.
std::set<std::string> WithParentFolders(const std::set<std::string>& paths) {
    std::set<std::string> all;
    for (const std::string& path : paths) {
        for (fs::path p = path; !p.empty(); p = p.parent_path()) all.insert(p.string());
    }
    all.erase("");
    return all;
}

enum class Target { kept, decoyFile, missing, emptyFolder };

const char* TargetName(Target target) {
    switch (target) {
        case Target::kept:
            return "moved outside";
        case Target::decoyFile:
            return "decoy file";
        case Target::missing:
            return "missing target";
        case Target::emptyFolder:
            return "empty folder";
    }
    return "";
}

// Turns `root`/`relative` into a link to an entry of `outside`: the entry
// itself moved there when it exists, otherwise a decoy of the kind the run
// would create (or nothing at all, for a link that leads nowhere yet).
fs::path LinkOutside(const fs::path& root, const std::string& relative, const fs::path& outside, Target target) {
    const fs::path inside = root / relative;
    const fs::path away = outside / Flat(relative);
    fs::create_directories(outside);
    fs::create_directories(inside.parent_path());
    switch (target) {
        case Target::kept:
            fs::rename(inside, away);
            break;
        case Target::decoyFile:
            WriteBytes(away, "decoy outside\n");
            break;
        case Target::missing:
            break;
        case Target::emptyFolder:
            fs::create_directories(away);
            break;
    }
    fs::create_symlink(away, inside);
    return away;
}

// True when the run wrote a file at `path` or below it: a link there must be
// noted. (A link the run only deletes, or a folder it only creates, leads
// nothing outside.)
bool WrittenAtOrBelow(const TreeState& after, const std::set<std::string>& changed, const std::string& path) {
    for (const std::string& p : changed) {
        const auto made = after.find(p);
        if (made == after.end() || made->second.kind != 'f') continue;
        if (p == path || p.rfind(path + "/", 0) == 0) return true;
    }
    return false;
}

// The ways to link one path a run touched: what was there moved outside, or
// for a path the run creates, a decoy of its kind and a link that leads nowhere.
std::vector<Target> TargetsFor(const TreeState& before, const TreeState& after, const std::string& path) {
    if (before.count(path) != 0) return {Target::kept};
    const auto made = after.find(path);
    if (made != after.end() && made->second.kind == 'd') return {Target::emptyFolder};
    return {Target::decoyFile, Target::missing};
}

class HostileLinkTest : public HostileTest {};

// Records what a normal run writes, copies or deletes, then makes each of
// those paths (and each folder above it) a link to the outside, one at a time.
TEST_F(HostileLinkTest, EveryPathTheMainJobTouchesAsALinkOutside) {
    const fs::path base = dir() / "base";
    courselib::GenerateCourses(base, 1);
    for (const char* folder : {"course0000", "course0000/course0000"}) {
        WriteBytes(base / folder / "course0000.bmp", "BM");
        WriteBytes(base / folder / "scripts" / "file_exists.php", "<?php ?>");
    }
    const fs::path work = dir() / "v";
    const fs::path starting = work / "courses";
    // "courses2" starts with the starting folder's name: inside by string prefix only.
    const fs::path outside = work / "courses2";
    const struct {
        const char* name;
        std::vector<std::string> args;
    } jobs[] = {
        {"SCORM", {"exitStatusMode=CompletedIncomplete", "deleteBmp=true", starting.string()}},
        {"xAPI", {"packageType=Xapi", "exitStatusMode=PassedIncomplete", "deleteBmp=true", starting.string()}},
    };
    int runs = 0;
    for (const auto& job : jobs) {
        CopyTree(base, starting);
        const TreeState before = ReadTreeState(starting);
        ASSERT_EQ(RunLimited(config, job.args).exitCode, 0);
        const TreeState after = ReadTreeState(starting);
        const std::set<std::string> changed = ChangedPaths(before, after);
        const std::set<std::string> touched = WithParentFolders(changed);
        ASSERT_GT(touched.size(), 20u);
        for (const std::string& path : touched) {
            for (const Target target : TargetsFor(before, after, path)) {
                SCOPED_TRACE(std::string(job.name) + ": " + path + " (" + TargetName(target) + ")");
                fs::remove_all(work);
                fs::remove(install() / "nb_logfile.txt");
                CopyTree(base, starting);
                WriteBytes(outside / "keep.txt", "beside the decoys\n");
                LinkOutside(starting, path, outside, target);
                const std::set<std::string> skip = {"base", "v/courses", "install/nb_logfile.txt"};
                const TreeState outsideBefore = StateExcept(skip);
                const LimitedRun run = RunLimited(config, job.args);
                ++runs;
                EXPECT_TRUE(run.ended()) << run.exitCode;
                EXPECT_EQ(DescribeChanges(outsideBefore, StateExcept(skip)), std::vector<std::string>{});
                if (target != Target::missing && WrittenAtOrBelow(after, changed, path)) {
                    const std::string log = Log();
                    EXPECT_TRUE(Holds(log, "'" + (starting / path).string() + "' is a link to '")) << log;
                    EXPECT_TRUE(Holds(log, "outside the starting folder; left unchanged.")) << log;
                }
            }
        }
    }
    std::cout << runs << " runs with one path linked outside\n";
}

TEST_F(HostileLinkTest, EveryPathTheVodJobTouchesAsALinkOutside) {
    const fs::path videos = dir() / "videos";
    courselib::GenerateVideos(videos, 1);
    const fs::path packages = install() / "vod packages";
    const fs::path outside = dir() / "videos2";
    const std::vector<std::string> args = {"createVodPackages=true", videos.string()};
    ASSERT_EQ(RunLimited(config, args).exitCode, 0);
    const TreeState built = ReadTreeState(packages);
    ASSERT_GT(built.size(), 10u);
    const TreeState sources = ReadTreeState(videos);
    const std::set<std::string> skip = {"videos", "install/vod packages", "install/nb_logfile.txt"};
    // Source files whose bytes the builder copies into a package.
    std::set<std::string> copied;
    for (const auto& [source, sourceEntry] : sources) {
        for (const auto& [path, entry] : built) {
            if (sourceEntry.kind == 'f' && entry.kind == 'f' && entry.content == sourceEntry.content)
                copied.insert(source);
        }
    }
    const auto check = [&](const LimitedRun& run, const std::string& linkPath, const TreeState& outsideBefore,
                           bool noted) {
        EXPECT_TRUE(run.ended()) << run.exitCode;
        EXPECT_EQ(DescribeChanges(outsideBefore, StateExcept(skip)), std::vector<std::string>{});
        // No byte of an outside file was copied into a package.
        for (const auto& [path, entry] : ReadTreeState(packages)) {
            EXPECT_FALSE(Holds(entry.content, "secret outside")) << path;
        }
        if (!noted) return;
        const std::string log = Log();
        EXPECT_TRUE(Holds(log, "'" + linkPath + "' is a link to '")) << log;
        EXPECT_TRUE(Holds(log, "outside the content folder; left unchanged.")) << log;
    };
    int runs = 0;
    // Each path the builder writes below the packages folder (not that folder itself).
    for (const auto& [path, entry] : built) {
        if (path.empty()) continue;
        const std::vector<Target> targets = entry.kind == 'd' ? std::vector<Target>{Target::emptyFolder}
                                                              : std::vector<Target>{Target::decoyFile, Target::missing};
        for (const Target target : targets) {
            SCOPED_TRACE("vod packages/" + path + " (" + TargetName(target) + ")");
            fs::remove_all(packages);
            fs::remove_all(outside);
            fs::remove(install() / "nb_logfile.txt");
            fs::create_directories(packages);
            LinkOutside(packages, path, outside, target);
            const TreeState outsideBefore = StateExcept(skip);
            const LimitedRun run = RunLimited(config, args);
            ++runs;
            check(run, (packages / path).string(), outsideBefore, target != Target::missing);
        }
    }
    // Each source file and folder the builder reads, as a link to a private file outside.
    for (const auto& [path, entry] : sources) {
        if (path.empty()) continue;
        SCOPED_TRACE("videos/" + path);
        fs::remove_all(packages);
        fs::remove_all(outside);
        fs::remove_all(videos);
        fs::remove(install() / "nb_logfile.txt");
        courselib::GenerateVideos(videos, 1);
        const fs::path away = LinkOutside(videos, path, outside, Target::kept);
        for (const auto& e : fs::recursive_directory_iterator(outside)) {
            if (e.is_regular_file()) WriteBytes(e.path(), ReadBytes(e.path()) + "secret outside\n");
        }
        if (fs::is_regular_file(away)) ::chmod(away.c_str(), 0600);
        const TreeState outsideBefore = StateExcept(skip);
        const LimitedRun run = RunLimited(config, args);
        ++runs;
        const bool copiedFromHere = std::any_of(copied.begin(), copied.end(), [&](const std::string& source) {
            return source == path || source.rfind(path + "/", 0) == 0;
        });
        check(run, (videos / path).string(), outsideBefore, copiedFromHere);
    }
    std::cout << runs << " runs with one path linked outside\n";
}

TEST_F(HostileLinkTest, DeviceNodeBehindAManifestLinkStaysADevice) {
    courselib::GenerateCourses(courses(), 1);
    fs::create_directories(dir() / "devices");
    ASSERT_EQ(::mknod((dir() / "devices" / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    fs::remove(courses() / "course0000" / "imsmanifest.xml");
    fs::create_symlink(dir() / "devices" / "null", courses() / "course0000" / "imsmanifest.xml");
    const LimitedRun run = RunLimited(config, {courses().string()});
    EXPECT_TRUE(run.ended());
    struct stat st {};
    ASSERT_EQ(::lstat((dir() / "devices" / "null").c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_TRUE(fs::is_symlink(courses() / "course0000" / "imsmanifest.xml"));
    EXPECT_TRUE(Holds(Log(), "is a link to '" + (dir() / "devices" / "null").string() + "'")) << Log();
}

// Links that stay inside the starting folder are followed as before; so is a
// starting folder or an installation reached through links.
TEST_F(HostileLinkTest, LinksInsideTheStartingFolderAreFollowed) {
    courselib::GenerateCourses(courses() / "real", 1);
    const fs::path course = courses() / "real" / "course0000";
    fs::create_directories(courses() / "common");
    fs::rename(course / "xml" / "question.xml", courses() / "common" / "question.xml");
    fs::create_symlink("../../../common/question.xml", course / "xml" / "question.xml");
    fs::create_directory_symlink(courses() / "real", courses() / "alias");
    // Installations are often assembled from links.
    fs::rename(install() / "web" / "scripts" / "vod.js", dir() / "vod.js");
    fs::create_symlink(dir() / "vod.js", install() / "web" / "scripts" / "vod.js");
    fs::create_directory_symlink(install(), dir() / "install-link");
    WriteBytes(config, "NB Path=" + (dir() / "install-link").string() + "\n");
    fs::create_directory_symlink(courses(), dir() / "courses-link");
    const std::string question = ReadBytes(courses() / "common" / "question.xml");
    const struct {
        const char* name;
        fs::path starting;
    } rows[] = {{"starting folder", courses()}, {"starting folder through a link", dir() / "courses-link"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(install() / "nb_logfile.txt");
        fs::remove(course / "course0000" / "scripts" / "vod.js");
        const LimitedRun run = RunLimited(config, {row.starting.string()});
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_TRUE(fs::is_symlink(course / "xml" / "question.xml"));
        EXPECT_NE(ReadBytes(courses() / "common" / "question.xml"), question);  // normalised through the link
        EXPECT_EQ(ReadBytes(course / "course0000" / "scripts" / "vod.js"), ReadBytes(dir() / "vod.js"));
        EXPECT_FALSE(Holds(Log(), "is a link to")) << Log();
    }
}

TEST_F(HostileLinkTest, VodLinkLoopsEnd) {
    const fs::path videos = dir() / "videos";
    courselib::GenerateVideos(videos, 2);
    fs::create_directory_symlink(".", videos / "a");
    fs::create_directory_symlink(".", videos / "b");
    fs::create_directory_symlink("..", videos / "group0" / "up");
    const LimitedRun run = RunLimited(config, {"createVodPackages=true", videos.string()});
    EXPECT_TRUE(run.ended()) << run.exitCode;
    EXPECT_TRUE(fs::exists(install() / "vod packages" / "intro_vid_1_sp" / "imsmanifest.xml"));
}

}  // namespace
