#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <regex>
#include <thread>

#include "app/BatchMain.h"
#include "bundle/SettingsFile.h"
#include "settings/SettingsFields.h"
#include "support/TestSupport.h"

namespace {

struct BatchResult {
    int exitCode = -1;
    std::string output;  // standard output
    std::string errors;  // standard error
};

class BatchTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        install = MakeInstall(dir());
        fs::create_directories(dir() / "courses");
    }
    BatchResult Batch(const std::string& args) {
        const std::string errFile = path("stderr.txt");
        const std::string command =
            "QUARVEL_CONFIG='" + install.storeFile.string() + "' '" QUARVEL_BATCH "' " + args + " 2>'" + errFile + "'";
        BatchResult result;
        FILE* pipe = ::popen(command.c_str(), "r");
        char buffer[4096];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
        const int status = ::pclose(pipe);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.errors = ReadBytes(errFile);
        return result;
    }
    // A course folder with one bundle that patches cleanly and one whose
    // settings file is UTF-16, which the run refuses.
    void MakeGoodAndUtf16Bundles() {
        WriteBytes(dir() / "courses/a_good/xml/interface.xml", MinimalInterfaceFile(false));
        WriteBytes(dir() / "courses/b_utf16/xml/interface.xml", "\xFF\xFE" + Utf16LeBytes("<?xml?>\r\n<xmlFile>\r\n"));
    }
    std::string LogPath() const { return (install.installFolder / "nb_logfile.txt").string(); }
    TestInstall install;
};

TEST_F(BatchTest, MainJobPrintsTheClosingMessageAndWritesTheLog) {
    const BatchResult r = Batch("showNavBar=true '" + path("courses") + "'");
    EXPECT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_EQ(r.output, "Course Bundle Patch Status: Check '" + (install.installFolder / "nb_logfile.txt").string() +
                            "' for course bundle error status.\n");
    EXPECT_TRUE(fs::exists(install.installFolder / "nb_logfile.txt"));
}

TEST_F(BatchTest, BadArgumentsAreRefusedBeforeAnythingIsWritten) {
    const std::string storeBefore = ReadBytes(install.storeFile);
    for (const std::string& args :
         {std::string("colour=red courses"), std::string("showNavBar=yes courses"), std::string("testMode=Assessment"),
          std::string("--settings missing.conf courses"), std::string("updateFromSpreadsheet=true courses"),
          std::string("courseTimeout=-5 courses"), std::string("posttestPassingScore=101 courses"),
          std::string("pretestQuestionCount=1234567890 courses")}) {
        const BatchResult r = Batch(args);
        EXPECT_EQ(r.exitCode, 2) << args;
        EXPECT_TRUE(r.output.empty()) << args;
        EXPECT_EQ(r.errors.rfind("quarvel-batch: ", 0), 0u) << args;
    }
    EXPECT_EQ(Batch("colour=red x").errors, "quarvel-batch: unknown setting name 'colour'\n");
    EXPECT_EQ(Batch("courseTimeout=abc pretestPassingScore=150 x").errors,
              "quarvel-batch: bad value 'abc' for courseTimeout (expected 1 to 9 digits, or nothing for the default)\n"
              "quarvel-batch: bad value '150' for pretestPassingScore (expected 0 to 100 in digits, or nothing for "
              "the default)\n");
    EXPECT_FALSE(fs::exists(install.installFolder / "nb_logfile.txt"));
    EXPECT_EQ(ReadBytes(install.storeFile), storeBefore);
}

TEST_F(BatchTest, SettingsFileIsAppliedBeforeTheCommandLine) {
    WriteBytes(dir() / "run.conf", "# run options\nexitStatusMode=Bogus\n");
    BatchResult r = Batch("--settings '" + path("run.conf") + "' courses");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.errors.find("run.conf:2: bad value 'Bogus' for exitStatusMode"), std::string::npos);
}

TEST_F(BatchTest, WhyTheRunCannotStartGoesToStandardErrorAndTheMessageBoxToOutput) {
    const struct {
        const char* name;
        std::string store;
        std::string starts;
    } rows[] = {
        {"not set", "NB Path=\n", "The install folder is not set."},
        {"no such folder", "NB Path=" + path("nowhere") + "\n", "The install folder '" + path("nowhere") + "'"},
        {"no template folder", "NB Path=" + path("courses") + "\n", "The install folder '" + path("courses") + "'"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WriteBytes(install.storeFile, row.store);
        const BatchResult r = Batch("'" + path("courses") + "'");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.output.rfind("Quarvel: " + row.starts, 0), 0u) << r.output;
        EXPECT_EQ(r.errors, "quarvel-batch: " + r.output.substr(9)) << r.errors;
    }
}

TEST_F(BatchTest, APatchLogThatCannotBeWrittenIsAProblemNamedOnStandardError) {
    fs::create_directories(install.installFolder / "nb_logfile.txt");
    WriteBytes(dir() / "courses/a_good/xml/interface.xml", MinimalInterfaceFile(false));
    WriteBytes(dir() / "videos/a_vid_1.mp4", "video");
    // The VOD job writes the log only with notes: a file where the package folders go gives one.
    WriteBytes(install.installFolder / "vod packages", "not a folder");
    const std::string failed = "The patch log '" + LogPath() + "' could not be written: " + std::strerror(EISDIR) + ".";
    const struct {
        const char* name;
        std::string args;
        std::string output;
        std::string summary;
    } rows[] = {
        {"main job", "'" + path("courses") + "'", "Course Bundle Patch Status: " + failed + "\n",
         "1 bundle patched, 0 with problems; the patch log was not written\n"},
        {"VOD job with notes", "createVodPackages=true '" + path("videos") + "'",
         "VOD Status: VOD packages created in 'VOD packages' subfolder.\nVOD Status: " + failed + "\n",
         "1 VOD package built in " + install.installFolder.string() +
             "/vod packages, 1 with problems; the patch log was not written\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const BatchResult r = Batch(row.args);
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_EQ(r.output, row.output);
        EXPECT_EQ(r.errors, "quarvel-batch: " + failed + "\n" + row.summary);
    }
}

TEST_F(BatchTest, TheRunEndsWithASummaryLineOnStandardError) {
    const BatchResult r = Batch("'" + path("courses") + "'");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.errors, "0 bundles patched, 0 with problems; see " + LogPath() + "\n");

    WriteBytes(dir() / "courses/a_good/xml/interface.xml", MinimalInterfaceFile(false));
    EXPECT_EQ(Batch("'" + path("courses") + "'").errors, "1 bundle patched, 0 with problems; see " + LogPath() + "\n");
}

TEST_F(BatchTest, ARefusedBundleMakesExitStatusThree) {
    MakeGoodAndUtf16Bundles();
    const BatchResult r = Batch("'" + path("courses") + "'");
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.output.find("Course Error: "), std::string::npos) << r.output;
    EXPECT_EQ(r.errors, "1 bundle patched, 1 with problems; see " + LogPath() + "\n");
}

TEST_F(BatchTest, AProblemOfNoBundleIsCountedApart) {
    WriteBytes(dir() / "courses/a_good/xml/interface.xml", MinimalInterfaceFile(false));
    // The bundle is patched whole; only its upload package cannot be written.
    WriteBytes(install.installFolder / "upload packages", "not a folder");
    const BatchResult r = Batch("zipPackages=true '" + path("courses") + "'");
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.errors, "1 bundle patched, 0 with problems, 1 other problem; see " + LogPath() + "\n");
}

TEST_F(BatchTest, TheSpreadsheetAndVodJobsSummariseInTheirOwnWords) {
    // No spreadsheet export in the installation: nothing converted, exit 3.
    BatchResult r = Batch("updateFromSpreadsheet=true");
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.output.rfind("Files not updated: ", 0), 0u) << r.output;
    EXPECT_EQ(r.errors, "spreadsheet not converted; the message box says why\n");

    fs::create_directories(dir() / "videos");
    r = Batch("createVodPackages=true '" + path("videos") + "'");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "VOD Status: VOD packages created in 'VOD packages' subfolder.\n");
    EXPECT_EQ(r.errors,
              "0 VOD packages built in " + install.installFolder.string() + "/vod packages, 0 with problems\n");
}

TEST_F(BatchTest, AMissingFolderOrAFileAsFolderIsRefusedAndTheRootEndsSilently) {
    WriteBytes(dir() / "a file.txt", "text");
    struct Row {
        std::string args;
        std::string errors;
    };
    const Row rows[] = {
        {"'" + path("nowhere") + "'", "quarvel-batch: " + path("nowhere") + ": no such FOLDER\n"},
        {"'" + path("a file.txt") + "'", "quarvel-batch: " + path("a file.txt") + ": FOLDER is not a folder\n"},
        {"createVodPackages=true '" + path("nowhere") + "'",
         "quarvel-batch: " + path("nowhere") + ": no such FOLDER\n"},
        {"",
         "quarvel-batch: the main job needs the starting FOLDER\nTry 'quarvel-batch --help' for more information.\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args);
        const BatchResult r = Batch(row.args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.output, "");
        EXPECT_EQ(r.errors, row.errors);
    }
    EXPECT_FALSE(fs::exists(LogPath()));
    EXPECT_FALSE(fs::exists(install.installFolder / "vod packages"));

    const BatchResult root = Batch("/");
    EXPECT_EQ(root.exitCode, 0);
    EXPECT_EQ(root.output, "");
    EXPECT_EQ(root.errors, "");
    EXPECT_FALSE(fs::exists(LogPath()));
}

TEST_F(BatchTest, EveryErrorOfASettingsFileIsNamedWithItsLine) {
    WriteBytes(dir() / "run.conf",
               "\xEF\xBB\xBFshowNavBar=true\nshowNavBar=maybe\n\n# fine\ncolour=red\ntestMode=Assessment\nwhat\n");
    const std::string conf = path("run.conf");
    const BatchResult r = Batch("--settings '" + conf + "' packageType=Zip courses");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(r.errors, "quarvel-batch: " + conf + ":2: bad value 'maybe' for showNavBar (expected true or false)\n" +
                            "quarvel-batch: " + conf + ":5: unknown setting name 'colour'\n" +
                            "quarvel-batch: " + conf + ":7: expected NAME=VALUE\n" +
                            "quarvel-batch: bad value 'Zip' for packageType (expected Scorm12, Xapi or Scorm2004)\n");
    EXPECT_FALSE(fs::exists(LogPath()));
}

TEST_F(BatchTest, SettingsFileWorksWithAnEqualsSignOrAsTheNextArgument) {
    // The file picks the spreadsheet job, which needs no FOLDER: proof that it was read.
    WriteBytes(dir() / "spreadsheet.conf", "\xEF\xBB\xBF# the spreadsheet job\r\nupdateFromSpreadsheet=true\r\n");
    for (const std::string& option :
         {"--settings='" + path("spreadsheet.conf") + "'", "--settings '" + path("spreadsheet.conf") + "'"}) {
        SCOPED_TRACE(option);
        const BatchResult r = Batch(option);
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_EQ(r.output.rfind("Files not updated: ", 0), 0u) << r.output << r.errors;
    }
    const BatchResult missing = Batch("--settings=nowhere.conf courses");
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_EQ(missing.errors,
              "quarvel-batch: nowhere.conf: cannot read the settings file: No such file or directory\n");
}

TEST_F(BatchTest, UnknownOptionsAskForTheHelp) {
    const BatchResult r = Batch("--colour -x courses");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.errors,
              "quarvel-batch: unknown option '--colour'\nquarvel-batch: unknown option '-x'\n"
              "Try 'quarvel-batch --help' for more information.\n");
}

TEST_F(BatchTest, HelpListsEverySettingWithItsValuesAndDefault) {
    for (const char* option : {"--help", "-h"}) {
        const BatchResult r = Batch(option);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.errors, "");
        EXPECT_EQ(r.output, BatchHelpText());
    }
    const std::string help = BatchHelpText();
    const CourseSettings defaults = ApplyOkRules(SettingsControls{});
    for (const SettingsField& field : SettingsFields()) {
        SCOPED_TRACE(field.name);
        const std::regex line("\n  " + std::string(field.name) + "=" +
                              std::regex_replace(FieldValueChoices(field), std::regex("\\|"), "\\|") + "\\s+default " +
                              FieldValueText(defaults, field) + "\n");
        EXPECT_TRUE(std::regex_search(help, line));
    }
    // The layout, on a short and a long row, and the fixed sections.
    for (const std::string& fixed : {
             std::string("\n  courseTimeout=NUMBER                        default 60\n"),
             std::string("\n  assessmentAutoSkip=true|false               default true\n"
                         "                                              read only with\n"
                         "                                              testMode=Assessment, where it is\n"
                         "                                              false unless given\n"),
             std::string("\n  exitStatusMode=ScormConformant|CompletedIncomplete|PassedIncomplete|PassedNoPosttest\n"
                         "                                              default ScormConformant\n"),
             std::string("\nInstall folder:\n"
                         "The \"NB Path\" value of the first of these store files:\n"
                         "  $QUARVEL_CONFIG                                   when the variable is set\n"
                         "  ${XDG_CONFIG_HOME:-~/.config}/quarvel/quarvel.conf\n"
                         "                                                    when the file exists\n"
                         "  /etc/quarvel.conf                                 otherwise\n"),
             std::string("\nExit status:\n"
                         "  0  the run ran (or ended silently, as at the file-system root) and every\n"
                         "     bundle was patched whole\n"
                         "  1  the run could not start: no usable install folder\n"
                         "  2  bad arguments or settings file, or FOLDER missing or not a folder, or a\n"
                         "     job without its FOLDER; nothing was written\n"
                         "  3  the run ran, but something was not done as asked (a bundle refused, a file\n"
                         "     not written, copied or deleted): the patch log names it; or the patch log\n"
                         "     itself could not be written: standard error says why\n"),
         }) {
        EXPECT_NE(help.find(fixed), std::string::npos) << fixed;
    }
    // Lines fit 79 columns, but for a term too long to cut.
    std::size_t start = 0;
    while (start < help.size()) {
        const std::size_t lf = help.find('\n', start);
        const std::string line = help.substr(start, lf - start);
        if (line.find(' ', 2) != std::string::npos) {
            EXPECT_LE(line.size(), 79u) << line;
        }
        start = lf + 1;
    }
}

TEST_F(BatchTest, TheManualPageIsTheHelpInRoff) {
    const std::string page = BatchManPage();
    const fs::path shipped = fs::path(QUARVEL_SOURCE_DIR) / "docs/quarvel-batch.1";
    if (ReadBytes(shipped) != page) {
        WriteBytes(dir() / "quarvel-batch.1", page);
        ADD_FAILURE() << "docs/quarvel-batch.1 differs from the help text; the page it should be is "
                      << path("quarvel-batch.1");
    }
    for (const SettingsField& field : SettingsFields()) {
        EXPECT_NE(page.find("\n.B " + std::string(field.name) + "="), std::string::npos) << field.name;
    }
    EXPECT_NE(page.find("\n.SH EXIT STATUS\n"), std::string::npos);
    // A line that starts with a dot is one of the requests the page uses, never text.
    const std::regex request("^\\.(TH|nh|ad l|SH|TP|B|br|PP)( |$)");
    std::size_t start = 0;
    while (start < page.size()) {
        const std::size_t lf = page.find('\n', start);
        const std::string line = page.substr(start, lf - start);
        if (line.starts_with(".") || line.starts_with("'")) {
            EXPECT_TRUE(std::regex_search(line, request)) << line;
        }
        start = lf + 1;
    }
}

TEST_F(BatchTest, VersionIsTheProjectVersion) {
    const std::string cmake = ReadBytes(fs::path(QUARVEL_SOURCE_DIR) / "CMakeLists.txt");
    std::smatch version;
    ASSERT_TRUE(std::regex_search(cmake, version, std::regex("project\\(Quarvel VERSION ([0-9.]+)")));
    const BatchResult r = Batch("--version");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "quarvel-batch (Quarvel) " + version[1].str() + "\n");
    EXPECT_EQ(r.errors, "");
}

TEST_F(BatchTest, AClosedStandardOutputNeverStopsTheRun) {
    MakeGoodAndUtf16Bundles();
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);  // no reader: the first message box already fails
    const std::string errFile = path("stderr.txt");
    const std::string courses = path("courses");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(err, STDERR_FILENO);
        ::setenv("QUARVEL_CONFIG", install.storeFile.c_str(), 1);
        std::signal(SIGPIPE, SIG_DFL);  // as a shell starts it
        ::execl(QUARVEL_BATCH, QUARVEL_BATCH, courses.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_EQ(ReadBytes(errFile), "1 bundle patched, 1 with problems; see " + LogPath() + "\n");
    EXPECT_NE(ReadBytes(LogPath()).find(Utf16LeBytes("/a_good/xml")), std::string::npos);
}

// quarvel-batch over the starting folder, its standard output a pipe filled
// beforehand: the first message box it shows holds it there until the test
// reads the pipe.
class HeldBatch {
public:
    HeldBatch(const std::string& courses, const std::string& store, const std::string& errFile, bool hangUpIgnored) {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
        const std::string block(4096, '#');
        while (::write(fds[1], block.data(), block.size()) > 0) m_filler += block.size();
        while (::write(fds[1], "#", 1) > 0) ++m_filler;
        ::fcntl(fds[1], F_SETFL, 0);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(err, STDERR_FILENO);
            ::setenv("QUARVEL_CONFIG", store.c_str(), 1);
            // As a shell starts a job in the foreground, or nohup starts one.
            for (const int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, SIG_DFL);
            if (hangUpIgnored) std::signal(SIGHUP, SIG_IGN);
            ::execl(QUARVEL_BATCH, QUARVEL_BATCH, courses.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        m_output = fds[0];
    }
    ~HeldBatch() {
        if (m_output >= 0) ::close(m_output);
    }

    // Waits until the program writes its first message box; false when it ended first.
    bool WaitUntilHeld() const {
        const std::string path = "/proc/" + std::to_string(m_pid) + "/syscall";
        for (;;) {
            const std::string call = ReadBytes(path);
            for (const long number : {long{SYS_write}, long{SYS_writev}}) {
                if (call.rfind(std::to_string(number) + " 0x1 ", 0) == 0) return true;
            }
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) != 0) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    // Sends `signal` and waits until the program has taken it in.
    void Send(int signal) const {
        ::kill(m_pid, signal);
        const std::string path = "/proc/" + std::to_string(m_pid) + "/status";
        const unsigned long long bit = 1ULL << (signal - 1);
        for (;;) {
            const std::string status = ReadBytes(path);
            bool pending = false;
            for (const char* field : {"\nSigPnd:\t", "\nShdPnd:\t"}) {
                const std::size_t at = status.find(field);
                if (at != std::string::npos && (std::stoull(status.substr(at + 9, 16), nullptr, 16) & bit) != 0) {
                    pending = true;
                }
            }
            if (!pending) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    // Lets the program go on to its end: its wait status, and what it printed.
    std::pair<int, std::string> Finish() {
        std::string output;
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::read(m_output, buffer, sizeof buffer)) > 0) output.append(buffer, static_cast<std::size_t>(n));
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        return {status, output.substr(std::min(m_filler, output.size()))};
    }

private:
    pid_t m_pid = -1;
    int m_output = -1;
    std::size_t m_filler = 0;
};

// A good bundle, the refused one whose message box holds the run, then two more.
class SignalTest : public BatchTest {
protected:
    void SetUp() override {
        BatchTest::SetUp();
        MakeGoodAndUtf16Bundles();
        WriteBytes(dir() / "courses/c_good/xml/interface.xml", MinimalInterfaceFile(false));
        WriteBytes(dir() / "courses/d_good/xml/interface.xml", MinimalInterfaceFile(false));
    }
    std::string Patched(const char* course) const {
        return ReadBytes(dir() / "courses" / course / "xml/interface.xml") == MinimalInterfaceFile(false) ? "no"
                                                                                                          : "yes";
    }
    std::string Start() const { return path("courses"); }
};

TEST_F(SignalTest, ASignalStopsTheRunAfterTheBundleInHandAndTheLogSaysSo) {
    const std::string stopNote = Utf16LeBytes("The run was stopped after '" + path("courses/c_good") +
                                              "'; the course bundles after it were not patched.\r\n");
    const struct {
        const char* name;
        int signal;
        bool hangUpIgnored;
        int exitCode;
        bool stopped;
    } rows[] = {
        {"SIGINT", SIGINT, false, 130, true},
        {"SIGTERM", SIGTERM, false, 143, true},
        {"SIGHUP", SIGHUP, false, 129, true},
        {"SIGHUP under nohup", SIGHUP, true, 3, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        HeldBatch batch(Start(), install.storeFile.string(), path("stderr.txt"), row.hangUpIgnored);
        ASSERT_TRUE(batch.WaitUntilHeld());
        batch.Send(row.signal);
        const auto [status, output] = batch.Finish();
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), row.exitCode);
        EXPECT_EQ(output.rfind("Course Error: ", 0), 0u) << output;
        EXPECT_NE(output.find("Course Bundle Patch Status: Check '" + LogPath() + "'"), std::string::npos) << output;
        EXPECT_EQ(Patched("a_good") + Patched("c_good") + Patched("d_good"), row.stopped ? "yesyesno" : "yesyesyes");
        EXPECT_EQ(ReadBytes(LogPath()).find(stopNote) != std::string::npos, row.stopped);
        EXPECT_EQ(ReadBytes(path("stderr.txt")), row.stopped
                                                     ? "2 bundles patched, 1 with problems, stopped before "
                                                       "the rest; see " +
                                                           LogPath() + "\n"
                                                     : "3 bundles patched, 1 with problems; see " + LogPath() + "\n");
    }
}

TEST_F(SignalTest, ASecondSignalEndsTheRunAtOnce) {
    const struct {
        const char* name;
        int first, second;
    } rows[] = {
        {"SIGINT twice", SIGINT, SIGINT},
        {"SIGINT, then SIGTERM", SIGINT, SIGTERM},
        {"SIGHUP, then SIGINT", SIGHUP, SIGINT},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        HeldBatch batch(Start(), install.storeFile.string(), path("stderr.txt"), false);
        ASSERT_TRUE(batch.WaitUntilHeld());
        batch.Send(row.first);
        batch.Send(row.second);
        const auto [status, output] = batch.Finish();
        ASSERT_TRUE(WIFSIGNALED(status)) << "exited with " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), row.second);
        EXPECT_EQ(output, "");  // the refused bundle's box was never written out
        EXPECT_EQ(Patched("c_good") + Patched("d_good"), "nono");
        EXPECT_FALSE(fs::exists(LogPath()));
        EXPECT_EQ(ReadBytes(path("stderr.txt")), "");
    }
}

TEST_F(BatchTest, AnInstallFolderThatCannotBeWrittenIsLeftForTheUsersOwnOnlyWhenAsked) {
    WriteBytes(install.installFolder / "nb_logfile.txt", "\xFF\xFE");
    fs::permissions(install.installFolder / "nb_logfile.txt", fs::perms::owner_read);
    const ScopedEnvironment env{{{"XDG_DATA_HOME", path("data")}, {"XDG_CONFIG_HOME", path("config")}}};
    const std::string own = path("data/quarvel/install");
    const std::string ownStore = path("config/quarvel/quarvel.conf");
    const std::string shared = install.installFolder.string();
    const auto closing = [](const std::string& folder) {
        return "Course Bundle Patch Status: Check '" + folder + "/nb_logfile.txt' for course bundle error status.\n";
    };

    // Standard output keeps only the message boxes; the run goes on as before,
    // and says that it could not write the shared log.
    BatchResult r = Batch("'" + path("courses") + "'");
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(
        r.output.rfind(
            "Course Bundle Patch Status: The patch log '" + shared + "/nb_logfile.txt' could not be written: ", 0),
        0u)
        << r.output;
    EXPECT_EQ(r.errors.rfind("quarvel-batch: the install folder '" + shared + "' cannot be written, so ", 0), 0u);
    EXPECT_NE(r.errors.find("run with --make-user-install to make your own install folder '" + own +
                            "' from it and record it in '" + ownStore + "'\n"),
              std::string::npos)
        << r.errors;
    EXPECT_FALSE(fs::exists(own) || fs::exists(ownStore));

    r = Batch("--make-user-install '" + path("courses") + "'");
    EXPECT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_EQ(r.output, closing(own));
    EXPECT_EQ(r.errors.rfind("quarvel-batch: the install folder '" + shared +
                                 "' cannot be written; making your own "
                                 "install folder '" +
                                 own + "' from it, recorded in '" + ownStore + "'\n",
                             0),
              0u)
        << r.errors;
    EXPECT_EQ(ReadBytes(ownStore), "NB Path=" + own + "\n");
    EXPECT_TRUE(fs::is_directory(own + "/web"));
    EXPECT_EQ(ReadBytes(install.storeFile), "NB Path=" + shared + "\n");
}

}  // namespace
