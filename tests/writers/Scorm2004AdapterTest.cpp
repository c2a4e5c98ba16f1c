#include "WriterFixture.h"
#include "writers/LaunchPages.h"
#include "writers/Scorm2004Adapter.h"

// The adapter's calls are tested in node against a fake LMS (tests/e2e, mode adapter).

TEST(Scorm2004AdapterUrlTest, FromTheCoursePageToTheContentFolder) {
    const struct {
        const char* content;
        const char* url;
    } rows[] = {
        {"/c/fire101", "scripts/scorm2004-adapter.js"},
        {"/c/fire101/fire101", "fire101/scripts/scorm2004-adapter.js"},
        {"/c/fire101/course bundle/fire101/media", "course%20bundle/fire101/media/scripts/scorm2004-adapter.js"},
        {"/c/fire101/a#b?c%d", "a%23b%3Fc%25d/scripts/scorm2004-adapter.js"},
        {"/c/fire101x", "scripts/scorm2004-adapter.js"},  // not below the course folder
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.content);
        EXPECT_EQ(Scorm2004AdapterUrl("/c/fire101", row.content), row.url);
    }
}

class Scorm2004PageTest : public WriterTest {};

TEST_F(Scorm2004PageTest, TheCoursePageLoadsTheAdapterRightAfterItsHeadLine) {
    WriteCoursePage(run->files, run->installation, coursePath("fire101.htm"), "fire101");
    run->files.Commit();
    const std::string scorm12 = ReadBytes(course() / "fire101.htm");
    WriteCoursePage(run->files, run->installation, coursePath("fire101.htm"), "fire101",
                    "course%20bundle/x&y/scripts/scorm2004-adapter.js");
    run->files.Commit();
    std::string expected = scorm12;
    expected.replace(expected.find("<head>\n"), 7,
                     "<head>\n<script src=\"course%20bundle/x&amp;y/scripts/scorm2004-adapter.js\"></script>\n");
    EXPECT_EQ(ReadBytes(course() / "fire101.htm"), expected);

    // The adapter's bytes are the program's, finished as every generated text file.
    fs::create_directories(course() / "scripts");
    WriteScorm2004Adapter(run->files, coursePath("scripts"));
    run->files.Commit();
    EXPECT_EQ(ReadBytes(course() / "scripts" / "scorm2004-adapter.js"), Scorm2004AdapterScript());
    EXPECT_EQ(Scorm2004AdapterScript().find('\r'), std::string_view::npos);
    EXPECT_EQ(run->report.updatedList, "");
}
