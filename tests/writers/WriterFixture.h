#pragma once

#include <memory>

#include "support/RunState.h"
#include "support/TestSupport.h"

inline const fs::path kWriterData = fs::path(QUARVEL_TEST_DATA) / "writers";

// The state of a run over an installation whose template folder holds the
// writers' test templates, and a course folder "course" for the files written.
class WriterTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        install = MakeInstall(dir());
        fs::copy(kWriterData / "web", install.installFolder / "web", fs::copy_options::recursive);
        fs::create_directories(course());
        StartRun();
        run->record.courseID = "fire101";
    }
    // A new run, as the next start of the program.
    void StartRun() { run = std::make_unique<RunState>(install.installFolder.generic_string()); }
    // Puts what the writers staged in place, as the run does after its bundles.
    void Commit() { run->files.Commit(); }
    fs::path course() const { return dir() / "course"; }
    std::string coursePath(const std::string& name) const { return (course() / name).generic_string(); }
    fs::path web() const { return install.installFolder / "web"; }

    TestInstall install;
    std::unique_ptr<RunState> run;
};
