#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <regex>

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

TEST_F(BatchTest, UnsetInstallFolderExitsWithOne) {
    WriteBytes(install.storeFile, "NB Path=\n");
    const BatchResult r = Batch("'" + path("courses") + "'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output.rfind("Quarvel: The install folder is not set.", 0), 0u);
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
                         "     not written, copied or deleted): the patch log names it\n"),
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

    // Standard output keeps only the message boxes; the run goes on as before.
    BatchResult r = Batch("'" + path("courses") + "'");
    EXPECT_EQ(r.output.rfind(closing(shared), 0), 0u) << r.output;
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
