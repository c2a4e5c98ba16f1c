#include "WriterFixture.h"
#include "platform/FileSystem.h"
#include "writers/ExitStatusPatch.h"

class ExitStatusPatchTest : public WriterTest {};

TEST_F(ExitStatusPatchTest, SnippetAfterEveryStatusCallButTheFirstLine) {
    const std::string completedIncomplete =
        "\t\t\t\tif (args == 'passed')\n\t\t\t\t\targs = 'completed';\n"
        "\t\t\t\telse if (args == 'failed')\n\t\t\t\t\targs = 'incomplete';\n\n";
    const std::string passedIncomplete = "\t\t\t\tif (args == 'failed')\n\t\t\t\t\targs = 'incomplete';\n\n";
    const std::string passedNoPosttest = "\t\t\t\tif (args == 'completed')\n\t\t\t\t\targs = 'passed';\n\n";
    const struct {
        const char* name;
        ExitStatusMode mode;
        std::string snippet;
    } rows[] = {
        {"completed/incomplete", ExitStatusMode::CompletedIncomplete, completedIncomplete},
        {"passed/incomplete", ExitStatusMode::PassedIncomplete, passedIncomplete},
        {"passed, no posttest", ExitStatusMode::PassedNoPosttest, passedNoPosttest},
        {"any other mode called directly", ExitStatusMode::ScormConformant, passedNoPosttest},
    };
    const fs::path scripts = course() / "scripts";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WriteBytes(scripts / "communication.js", "copied by the asset refresh\r\n");
        run->settings.exitStatusMode = row.mode;
        PatchExitStatus(run->files, run->installation, scripts.string(), run->settings.exitStatusMode);
        Commit();
        EXPECT_EQ(ReadBytes(scripts / "communication.js"),
                  "// LMS_SetLessonStatus is called by the player only through SetStatus.\n"
                  "function SetStatus(args) {\n"
                  "\tif (useLms) {\n"
                  "\t\tif (args != '') {\n"
                  "\t\t\tLMS_SetLessonStatus(args);\n" +
                      row.snippet +
                      "\t\t}\n"
                      "\n"
                      "\t\tcomplete = true; // 100% done\n"
                      "\t}\n"
                      "\telse LMS_SetLessonStatus(args);\n" +
                      row.snippet + "}\n");
    }
}

TEST_F(ExitStatusPatchTest, ReadOnlyScriptOrMissingTemplateLeavesTheScript) {
    const fs::path script = course() / "scripts" / "communication.js";
    WriteBytes(script, "original\r\n");
    fs::permissions(script, fs::perms::owner_read);
    run->settings.exitStatusMode = ExitStatusMode::PassedIncomplete;
    PatchExitStatus(run->files, run->installation, (course() / "scripts").string(), run->settings.exitStatusMode);
    Commit();
    EXPECT_EQ(ReadBytes(script), "original\r\n");
    EXPECT_TRUE(platform::IsReadOnly(script.string()));
    EXPECT_NE(run->report.updatedList.find(script.string()), std::string::npos) << run->report.updatedList;

    fs::permissions(script, fs::perms::owner_read | fs::perms::owner_write);
    fs::remove(web() / "scripts" / "communication.js");
    PatchExitStatus(run->files, run->installation, (course() / "scripts").string(), run->settings.exitStatusMode);
    Commit();
    EXPECT_EQ(ReadBytes(script), "original\r\n");
}
