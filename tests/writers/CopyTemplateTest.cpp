#include "platform/FileSystem.h"
#include "support/RunState.h"
#include "support/TestSupport.h"
#include "writers/CopyTemplate.h"
#include "writers/NormaliseTextFile.h"
#include "writers/TemplateText.h"

namespace {

std::string Copied(const std::string& templateBytes, const std::vector<TemplateRule>& rules) {
    return FinishedTextBytes(FillTemplate(SplitTemplateLines(templateBytes), rules));
}

const std::vector<TemplateRule> kPageRules = {
    {"top:", "\ttop:  50%;\n"},
    {"left:", "\tleft:  50%;\n"},
    {"'id=", "\t'id=fire101'\n"},
};

}  // namespace

TEST(FillTemplateTest, LinesAndRules) {
    const struct {
        const char* name;
        std::string in;
        std::string out;
    } rows[] = {
        {"empty template gives one line end", "", "\n"},
        {"a lone line end", "\n", "\n"},
        {"last line without line end", "a\nb", "a\nb\n"},
        {"empty lines kept, never matched", "h\n\n\ntop: 1\n\n", "h\n\n\n\ttop:  50%;\n\n"},
        {"crlf becomes lf", "h\r\nx\r\n\r\ntop: 1\r\n", "h\nx\n\n\ttop:  50%;\n"},
        {"lone cr inside a line dropped by the finish", "h\na\rb\n", "h\nab\n"},
        {"bom removed from the first line", "\xEF\xBB\xBFh\nx\n", "h\nx\n"},
        {"bom later is text", "h\n\xEF\xBB\xBFx\n", "h\n\xC3\xAF\xC2\xBB\xC2\xBFx\n"},
        {"0xEF without bom stays (no second normalisation)",
         "\xEF"
         "a\n",
         "\xC3\xAF"
         "a\n"},
        {"first line never matched", "\xEF\xBB\xBF top: 'id=x\ntop: 2\n", " top: 'id=x\n\ttop:  50%;\n"},
        {"latin-1 byte", "caf\xE9\n\xE9t\xE9\n", "caf\xC3\xA9\n\xC3\xA9t\xC3\xA9\n"},
        {"substring of a longer name", "h\n  margin-top: 0;\n  padding-left: 0;\n", "h\n\ttop:  50%;\n\tleft:  50%;\n"},
        {"first rule decides", "h\n.c { left: 0; top: 0; 'id= }\n'id= left:\n", "h\n\ttop:  50%;\n\tleft:  50%;\n"},
        {"markers are case-sensitive", "h\nTOP: 1; Left: 2\n", "h\nTOP: 1; Left: 2\n"},
        {"percent signs written as they are", "h\nwidth: 100%%; 50%\n", "h\nwidth: 100%%; 50%\n"},
        {"whole line replaced", "h\n\t\t\t'id=courseID' + more\n", "h\n\t'id=fire101'\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Copied(row.in, kPageRules), row.out);
    }
}

TEST(FillTemplateTest, KeptLineFollowedByItsInsertAndGeneratedReplacements) {
    EXPECT_EQ(Copied("LMS_SetLessonStatus()\na\n  LMS_SetLessonStatus(x);\nLMS_SetLessonStatus(y);\n",
                     {{"LMS_SetLessonStatus", "\t+\n\n", true}}),
              "LMS_SetLessonStatus()\na\n  LMS_SetLessonStatus(x);\n\t+\n\nLMS_SetLessonStatus(y);\n\t+\n\n");
    int calls = 0;
    const std::vector<TemplateRule> rules = {
        {"first", "1\n"},
        {"marker", {}, false, [&calls] { return "call " + std::to_string(++calls) + "\n"; }},
    };
    EXPECT_EQ(Copied("marker\nmarker\nfirst marker\nmarker\n", rules), "marker\ncall 1\n1\ncall 2\n");
    EXPECT_EQ(calls, 2);
}

class CopyTemplateTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        install = MakeInstall(dir());
        run = std::make_unique<RunState>(install.installFolder.generic_string());
    }
    TestInstall install;
    std::unique_ptr<RunState> run;
};

TEST_F(CopyTemplateTest, MissingTemplateLeavesTheOutputAlone) {
    WriteBytes(dir() / "page.htm", "old\r\n");
    fs::permissions(dir() / "page.htm", fs::perms::owner_read);
    CopyTemplate(run->files, run->installation, path("none.htm"), path("page.htm"), kPageRules, ReadOnly::keep);
    run->files.Commit();
    EXPECT_TRUE(platform::IsReadOnly(path("page.htm")));
    // Clearing the attribute comes first, whether a template is found or not.
    CopyTemplate(run->files, run->installation, path("none.htm"), path("page.htm"), kPageRules, ReadOnly::clear);
    run->files.Commit();
    EXPECT_FALSE(platform::IsReadOnly(path("page.htm")));
    EXPECT_EQ(ReadBytes(dir() / "page.htm"), "old\r\n");
    CopyTemplate(run->files, run->installation, path("none.htm"), path("new.htm"), kPageRules, ReadOnly::clear);
    run->files.Commit();
    EXPECT_FALSE(fs::exists(dir() / "new.htm"));
    EXPECT_EQ(run->report.updatedList, "");
}

TEST_F(CopyTemplateTest, TemplateThatCannotBeReadIsNoted) {
    fs::create_directories(dir() / "t.htm");  // there, but no file to read
    WriteBytes(dir() / "page.htm", "old\n");
    CopyTemplate(run->files, run->installation, path("t.htm"), path("page.htm"), kPageRules, ReadOnly::clear);
    run->files.Commit();
    EXPECT_EQ(ReadBytes(dir() / "page.htm"), "old\n");
    EXPECT_EQ(run->report.updatedList, "Could not write '" + platform::DisplayPath(path("page.htm")) + "' from '" +
                                           platform::DisplayPath(path("t.htm")) + "': Is a directory.\n");
}

TEST_F(CopyTemplateTest, ReadOnlyOutputIsClearedOrRefused) {
    WriteBytes(dir() / "t.htm", "h\r\nmargin-left: 0\r\n");
    WriteBytes(dir() / "page.htm", "old\n");
    fs::permissions(dir() / "page.htm", fs::perms::owner_read | fs::perms::group_read);
    CopyTemplate(run->files, run->installation, path("t.htm"), path("page.htm"), kPageRules, ReadOnly::keep);
    run->files.Commit();
    EXPECT_EQ(ReadBytes(dir() / "page.htm"), "old\n");
    EXPECT_NE(run->report.updatedList.find(platform::DisplayPath(path("page.htm"))), std::string::npos)
        << run->report.updatedList;

    CopyTemplate(run->files, run->installation, path("t.htm"), path("page.htm"), kPageRules, ReadOnly::clear);

    run->files.Commit();
    EXPECT_EQ(ReadBytes(dir() / "page.htm"), "h\n\tleft:  50%;\n");
    if (!kPosixFileSystem) return;  // the rest is about permission bits
    EXPECT_EQ(fs::status(dir() / "page.htm").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(CopyTemplateTest, UnwritableOutputIsNotedAndNothingIsLeftBehind) {
    WriteBytes(dir() / "t.htm", "h\n");
    CopyTemplate(run->files, run->installation, path("t.htm"), path("no such folder/page.htm"), kPageRules,
                 ReadOnly::clear);
    run->files.Commit();
    EXPECT_FALSE(fs::exists(dir() / "no such folder"));
    EXPECT_NE(run->report.updatedList.find(platform::DisplayPath(path("no such folder/page.htm"))), std::string::npos)
        << run->report.updatedList;
}

TEST_F(CopyTemplateTest, TemplateIsReadAgainOnlyWhenItsFileChanged) {
    const fs::path templateFile = dir() / "t.htm";
    WriteBytes(templateFile, "h\nA\n");
    CopyTemplate(run->files, run->installation, templateFile.string(), path("1.htm"), kPageRules, ReadOnly::clear);
    run->files.Commit();
    EXPECT_EQ(ReadBytes(dir() / "1.htm"), "h\nA\n");

    // Same size, same time, same file: the lines read before are used.
    const auto stamp = fs::last_write_time(templateFile);
    WriteBytes(templateFile, "h\nB\n");
    fs::last_write_time(templateFile, stamp);
    CopyTemplate(run->files, run->installation, templateFile.string(), path("2.htm"), kPageRules, ReadOnly::clear);
    run->files.Commit();
    // (The test's own clock calls set times more coarsely than the file system keeps them on Windows.)
    if (kPosixFileSystem) {
        EXPECT_EQ(ReadBytes(dir() / "2.htm"), "h\nA\n");
    }

    WriteBytes(templateFile, "h\nBB\n");
    CopyTemplate(run->files, run->installation, templateFile.string(), path("3.htm"), kPageRules, ReadOnly::clear);
    run->files.Commit();
    EXPECT_EQ(ReadBytes(dir() / "3.htm"), "h\nBB\n");

    fs::last_write_time(templateFile, stamp - std::chrono::seconds(5));
    WriteBytes(dir() / "other", "h\nCC\n");
    fs::rename(dir() / "other", templateFile);  // replaced by rename: another file
    CopyTemplate(run->files, run->installation, templateFile.string(), path("4.htm"), kPageRules, ReadOnly::clear);
    run->files.Commit();
    EXPECT_EQ(ReadBytes(dir() / "4.htm"), "h\nCC\n");

    fs::remove(templateFile);
    CopyTemplate(run->files, run->installation, templateFile.string(), path("4.htm"), kPageRules, ReadOnly::clear);
    run->files.Commit();
    CopyTemplate(run->files, run->installation, templateFile.string(), path("5.htm"), kPageRules, ReadOnly::clear);
    run->files.Commit();
    EXPECT_EQ(ReadBytes(dir() / "4.htm"), "h\nCC\n");
    EXPECT_FALSE(fs::exists(dir() / "5.htm"));
}
