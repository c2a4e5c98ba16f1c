#include <sys/wait.h>

#include <cstdio>

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
          std::string("--settings missing.conf courses"), std::string("updateFromSpreadsheet=true courses")}) {
        const BatchResult r = Batch(args);
        EXPECT_EQ(r.exitCode, 2) << args;
        EXPECT_TRUE(r.output.empty()) << args;
        EXPECT_EQ(r.errors.rfind("quarvel-batch: ", 0), 0u) << args;
    }
    EXPECT_EQ(Batch("colour=red x").errors, "quarvel-batch: unknown setting name 'colour'\n");
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

}  // namespace
