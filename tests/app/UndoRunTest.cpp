#include <sys/stat.h>

#include <map>

#include "app/RunRecord.h"
#include "app/UndoRun.h"
#include "platform/FolderTree.h"
#include "support/TestSupport.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

// Everything undo promises to put back: each entry's kind, bytes, bits, last-write time and
// owner. (Reading a file may change its last-access time, which undo puts back only for
// the files it restores.)
struct Entry {
    bool folder = false;
    std::string bytes;
    unsigned mode = 0;
    long long modified = 0;
    unsigned owner = 0;
    bool operator==(const Entry&) const = default;
};
using Tree = std::map<std::string, Entry>;

Tree Snapshot(const fs::path& root) {
    Tree tree;
    for (const fs::directory_entry& item : fs::recursive_directory_iterator(root)) {
        Entry entry;
        entry.folder = item.is_directory();
        struct stat st {};
        ::stat(item.path().string().c_str(), &st);
        entry.mode = static_cast<unsigned>(st.st_mode & 07777);
        if (!entry.folder) {
            entry.bytes = ReadBytes(item.path());
#ifndef _WIN32
            entry.modified = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
            entry.owner = st.st_uid;
#else
            entry.modified = fs::last_write_time(item.path()).time_since_epoch().count();
#endif
        }
        tree[fs::relative(item.path(), root).generic_string()] = entry;
    }
    return tree;
}

std::vector<std::string> Differences(const Tree& want, const Tree& got) {
    std::vector<std::string> out;
    for (const auto& [path, entry] : want) {
        const auto found = got.find(path);
        if (found == got.end()) {
            out.push_back("missing " + path);
        } else if (!(found->second == entry)) {
            out.push_back("changed " + path);
        }
    }
    for (const auto& [path, entry] : got) {
        if (!want.contains(path)) out.push_back("left " + path);
    }
    return out;
}

class UndoRunTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        const fs::path sample = fs::path(QUARVEL_SOURCE_DIR) / "sample";
        fs::copy(sample / "install", dir() / "install", fs::copy_options::recursive);
        fs::copy(sample / "courses", dir() / "courses", fs::copy_options::recursive);
        fs::copy(sample / "videos", dir() / "videos", fs::copy_options::recursive);
        WriteBytes(dir() / "quarvel.conf", "NB Path=" + path("install") + "\n");
        user.settings = DefaultOkSettings();
        user.folder = path("courses");
    }
    RunSummary Run(const CourseSettings& settings) {
        user.settings = settings;
        QuarvelRun run(user, clock, InstallStore(path("quarvel.conf")));
        run.RunSelectedJob();
        return run.Summary();
    }
    RunSummary Run() { return Run(DefaultOkSettings()); }
    std::string Install() const { return path("install"); }
    // What the course and video trees hold, and the VOD packages: the patch log and the records grow.
    Tree Trees() {
        Tree all;
        for (const char* root : {"courses", "videos", "install/vod packages"}) {
            if (!fs::exists(dir() / root)) continue;
            for (auto& [relative, entry] : Snapshot(dir() / root)) all[std::string(root) + "/" + relative] = entry;
        }
        return all;
    }

    FakeUser user;
    platform::FixedClock clock{TestTime()};
};

TEST_F(UndoRunTest, UndoPutsTheTreeBackAsItWasAndDoesSoAgainHarmlessly) {
    struct Row {
        const char* name;
        std::function<void(const fs::path& root, FakeUser& user, CourseSettings& s)> setUp;
    };
    const std::vector<Row> rows = {
        {"main job", [](const fs::path&, FakeUser&, CourseSettings& s) { s.courseTimeout = 45; }},
        {"main job over a read-only manifest",
         [](const fs::path& root, FakeUser&, CourseSettings&) {
             fs::permissions(root / "courses/fire101/imsmanifest.xml", fs::perms(0444));
         }},
        {"VOD job",
         [](const fs::path& root, FakeUser& asked, CourseSettings& s) {
             s.createVodPackages = true;
             asked.folder = (root / "videos").generic_string();
         }},
        {"main job over another user's files (as root)",
         [](const fs::path& root, FakeUser&, CourseSettings&) {
#ifndef _WIN32
             if (::geteuid() != 0) return;
             for (const fs::directory_entry& item : fs::recursive_directory_iterator(root / "courses/intro101")) {
                 ASSERT_EQ(::lchown(item.path().c_str(), 4321, 4321), 0);
             }
#else
             (void)root;
#endif
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(dir() / "courses");
        fs::remove_all(dir() / "install/vod packages");
        fs::copy(fs::path(QUARVEL_SOURCE_DIR) / "sample/courses", dir() / "courses", fs::copy_options::recursive);
        user.folder = path("courses");
        CourseSettings settings = DefaultOkSettings();
        row.setUp(dir(), user, settings);
        const Tree before = Trees();
        Run(settings);
        ASSERT_FALSE(Differences(before, Trees()).empty());

        UndoResult undone = UndoRun(Install(), "", false);
        EXPECT_TRUE(undone.Whole()) << testing::PrintToString(undone.notes);
        EXPECT_EQ(Differences(before, Trees()), std::vector<std::string>{});
        // Again, as after a power cut during the first: nothing is refused, nothing changes.
        undone = UndoRun(Install(), "", false);
        EXPECT_TRUE(undone.Whole()) << testing::PrintToString(undone.notes);
        EXPECT_EQ(Differences(before, Trees()), std::vector<std::string>{});
    }
}

TEST_F(UndoRunTest, AFileChangedSinceTheRunIsRefusedAndNamedUnlessForced) {
    const Tree before = Trees();
    Run();
    const fs::path replaced = dir() / "courses/fire101/xml/interface.xml";
    const fs::path created = dir() / "courses/fire101/fire101.htm";
    WriteBytes(replaced, ReadBytes(replaced) + "<!-- edited -->");
    WriteBytes(created, "edited");

    UndoResult undone = UndoRun(Install(), "", false);
    EXPECT_FALSE(undone.Whole());
    EXPECT_EQ(undone.refused, (std::vector<std::string>{replaced.generic_string(), created.generic_string()}));
    EXPECT_EQ(Differences(before, Trees()), (std::vector<std::string>{"changed courses/fire101/xml/interface.xml",
                                                                      "left courses/fire101/fire101.htm"}));
    EXPECT_EQ(ReadBytes(created), "edited");

    undone = UndoRun(Install(), "", true);
    EXPECT_TRUE(undone.Whole()) << testing::PrintToString(undone.notes);
    EXPECT_EQ(Differences(before, Trees()), std::vector<std::string>{});
}

TEST_F(UndoRunTest, TheLastRunsAreKeptAndListedAndAnOlderOneCanBeTakenBack) {
    CourseSettings settings = DefaultOkSettings();
    settings.keepUndoRuns = 2;
    std::vector<Tree> before;
    for (const int timeout : {10, 20, 30}) {
        settings.courseTimeout = timeout;  // every run changes every settings file
        before.push_back(Trees());
        Run(settings);
    }
    // Nothing to change: no record.
    Run(settings);
    const std::vector<KeptRun> runs = ListKeptRuns(Install());
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].id, "2");
    EXPECT_EQ(runs[1].id, "3");
    EXPECT_EQ(runs[1].job, "main");
    EXPECT_EQ(runs[1].folder, path("courses"));
    EXPECT_EQ(runs[1].date, "2026-12-07 14:05");
    EXPECT_EQ(runs[1].files, 6);  // the six settings files
    EXPECT_GT(runs[1].bytes, 0u);
    EXPECT_FALSE(runs[1].undone);

    EXPECT_EQ(UndoRun(Install(), "1", false).problem, "No run 1 is kept; --list-runs lists those that are.");
    // The older run's files were changed by the later one: refused, then taken back in turn.
    EXPECT_EQ(UndoRun(Install(), "2", false).refused.size(), 6u);
    EXPECT_TRUE(UndoRun(Install(), "3", false).Whole());
    EXPECT_EQ(Differences(before[2], Trees()), std::vector<std::string>{});
    EXPECT_TRUE(UndoRun(Install(), "2", false).Whole());
    EXPECT_EQ(Differences(before[1], Trees()), std::vector<std::string>{});
    EXPECT_TRUE(ListKeptRuns(Install())[1].undone);
}

TEST_F(UndoRunTest, AChangeTheRecordCannotKeepIsNotMade) {
    // Neither the install folder nor the state folder can hold records.
    WriteBytes(dir() / "install/undo runs", "");
    WriteBytes(dir() / "state", "");
    const ScopedEnvironment state({{"XDG_STATE_HOME", path("state")}, {"HOME", path("state")}});
    struct Row {
        int keep;
        bool changes;
    };
    for (const Row row : {Row{5, false}, Row{0, true}}) {
        SCOPED_TRACE(row.keep);
        const Tree before = Trees();
        const fs::path logPath = dir() / "install/nb_logfile.txt";
        const std::size_t logged = fs::exists(logPath) ? fs::file_size(logPath) : 0;
        CourseSettings settings = DefaultOkSettings();
        settings.keepUndoRuns = row.keep;
        const RunSummary summary = Run(settings);
        EXPECT_EQ(Differences(before, Trees()).empty(), !row.changes);
        EXPECT_EQ(summary.problemNotes > 0, !row.changes);
        const std::string log = ReadBytes(logPath).substr(logged);
        EXPECT_EQ(log.find(Utf16LeBytes("The undo record of this run could not be kept")) != std::string::npos,
                  !row.changes);
    }
}

TEST_F(UndoRunTest, TheRecordsOwnLinksAreNotCountedAsOtherNames) {
    CourseSettings settings = DefaultOkSettings();
    // A file with a second name of its own is noted once, by the run that finds it.
    fs::create_hard_link(dir() / "courses/fire101/xml/interface.xml", dir() / "fire101-interface.xml");
    for (const int timeout : {10, 20}) {
        settings.courseTimeout = timeout;
        Run(settings);
    }
    const std::string log = ReadBytes(dir() / "install/nb_logfile.txt");
    const std::string note = Utf16LeBytes("other names (hard links)");
    const std::size_t first = log.find(note);
    EXPECT_NE(first, std::string::npos);
    EXPECT_EQ(log.find(note, first + 1), std::string::npos);
    EXPECT_TRUE(UndoRun(Install(), "", false).Whole());
}

TEST_F(UndoRunTest, ARecordCutShortLetsGoOfTheFilesItsRunNeverReplaced) {
    const fs::path file = dir() / "courses/fire101/xml/interface.xml";
    for (const bool journalLost : {false, true}) {
        SCOPED_TRACE(journalLost ? "its lines lost" : "its lines written");
        {
            // Killed between keeping the old version and putting the new one in place.
            RunRecord record(Install(), TestTime(), "main", path("courses"), {path("courses")}, 5);
            platform::FolderTree tree;
            const platform::Resolution reached = tree.Resolve(file.generic_string());
            ASSERT_TRUE(reached.place);
            ASSERT_FALSE(record.BeforeChanges({{platform::FileChange::Kind::replace, *reached.place}}));
            if (journalLost) {
                const fs::path journal = dir() / "install/undo runs" / record.Id() / "journal";
                const std::string text = ReadBytes(journal);
                WriteBytes(journal, text.substr(0, text.find("keep\t")));
            }
        }
        EXPECT_EQ(fs::hard_link_count(file), 2u);
        const fs::path logPath = dir() / "install/nb_logfile.txt";
        const std::size_t logged = fs::exists(logPath) ? fs::file_size(logPath) : 0;
        CourseSettings settings = DefaultOkSettings();
        settings.courseTimeout = journalLost ? 11 : 12;
        Run(settings);
        EXPECT_EQ(ReadBytes(logPath).find(Utf16LeBytes("other names"), logged), std::string::npos);
    }
}

TEST_F(UndoRunTest, AnAppendIsCutOnlyWhileItIsStillTheTail) {
    struct Row {
        const char* name;
        std::string after;  // appended by someone else after the run
        std::string left;
    };
    for (const Row& row : {Row{"the run's lines last", "", "old\n"}, Row{"lines after them", "theirs\n", ""}}) {
        SCOPED_TRACE(row.name);
        const fs::path catalogue = dir() / "install/HTML course descriptions.txt";
        WriteBytes(catalogue, "old\n");
        {
            RunRecord record(Install(), TestTime(), "spreadsheet", Install(), {Install()}, 5);
            WriteBytes(catalogue, "old\nnew\n");
            ASSERT_FALSE(record.NoteAppend(catalogue.generic_string(), 4, 8));
            record.Finish();
        }
        WriteBytes(catalogue, ReadBytes(catalogue) + row.after);
        const UndoResult undone = UndoRun(Install(), "", false);
        EXPECT_EQ(ReadBytes(catalogue), row.left.empty() ? "old\nnew\n" + row.after : row.left);
        EXPECT_EQ(undone.Whole(), row.after.empty());
    }
}

TEST_F(UndoRunTest, TheSettingsDialogsUndoAsksNamingTheRunThenSaysWhatWasRestored) {
    struct AskingUser : FakeUser {
        std::optional<CourseSettings> ChooseSettings() override { return std::nullopt; }
        bool UndoLastRunChosen() override { return true; }
        bool AskYesNo(const std::string& text, const std::string&) override {
            asked.push_back(text);
            return answer;
        }
        std::vector<std::string> asked;
        bool answer = false;
    };
    const Tree before = Trees();
    Run();
    AskingUser asking;
    for (const bool answer : {false, true}) {
        asking.answer = answer;
        QuarvelRun run(asking, clock, InstallStore(path("quarvel.conf")));
        EXPECT_EQ(run.RunSelectedJob(), RunOutcome::Ran);
        EXPECT_EQ(Differences(before, Trees()).empty(), answer);
    }
    ASSERT_EQ(asking.asked.size(), 2u);
    EXPECT_EQ(asking.asked[0].rfind("Take back the run of 2026-12-07 14:05 over '" + path("courses") + "' (", 0), 0u);
    ASSERT_EQ(asking.messages.size(), 1u);
    EXPECT_EQ(asking.messages[0].caption, "Undo last run");
    EXPECT_EQ(asking.messages[0].style, MessageStyle::Plain);
    const std::string log = ReadBytes(dir() / "install/nb_logfile.txt");
    EXPECT_NE(log.find(Utf16LeBytes("' was taken back (restored) 12/07/2026 14:05:\r\nrestored '")), std::string::npos);
}

#ifndef _WIN32
TEST_F(UndoRunTest, TheBatchProgramListsTakesBackAndRefusesUnknownRuns) {
    Run();
    const auto batch = [this](const std::string& args, std::string& output) {
        const std::string command =
            "QUARVEL_CONFIG='" + path("quarvel.conf") + "' '" QUARVEL_BATCH "' " + args + " 2>/dev/null";
        FILE* pipe = ::popen(command.c_str(), "r");
        char buffer[4096];
        output.clear();
        for (size_t n = 0; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
        const int status = ::pclose(pipe);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    std::string output;
    EXPECT_EQ(batch("--list-runs", output), 0);
    EXPECT_EQ(output.substr(0, 38), "1     2026-12-07 14:05  main    140   ");
    EXPECT_EQ(output.substr(output.size() - path("courses").size() - 3), "  " + path("courses") + "\n");
    EXPECT_EQ(batch("--undo=7", output), 2);
    EXPECT_EQ(batch("--force", output), 2);
    EXPECT_EQ(batch("--undo " + path("courses"), output), 2);
    EXPECT_EQ(batch("--undo", output), 0);
    EXPECT_EQ(output.rfind("Undo last run: The run of 2026-12-07 14:05 over '", 0), 0u);
}
#endif

}  // namespace
