#ifndef _WIN32
#include <sys/resource.h>  // a file-size limit makes an append fail
#endif

#include <csignal>

#include "catalogues/ConvertSpreadsheet.h"
#include "catalogues/SpreadsheetParser.h"
#include "support/TestSupport.h"

namespace {

TEST(SpreadsheetParserTest, BulletLines) {
    struct Case {
        const char* line;
        bool isBullet;
        const char* text;  // the item, for bullet lines
    };
    const Case cases[] = {
        {"- Exits", true, "- Exits"},
        {"  -  Exits\t \r", true, "Exits"},
        {"\t-\tExits", true, "Exits"},
        {"-Exits", false, ""},
        {"- ", true, "-"},
        {"  -", false, ""},
        {"x - Exits", false, ""},
        {"\xC2\xA0-\xC2\xA0No-break spaces", true, "No-break spaces"},
        {"\xE3\x80\x80-\xE2\x80\x83Ideographic and em space", true, "Ideographic and em space"},
        {"- quoted \"x\"\r", true, "- quoted \"x\""},
        {"- curly \xE2\x80\x9Cx\xE2\x80\x9D \xE2\x80\x98y\xE2\x80\x99", true,
         "- curly \xE2\x80\x9Cx\xE2\x80\x9D \xE2\x80\x98y\xE2\x80\x99"},
        {"- line\r\r  ", true, "- line"},
        {"- \r\rbreak at the front", true, "- \r\rbreak at the front"},
        {"- a\rb", false, ""},
        {"- a\xE2\x80\xA8"
         "b",
         false, ""},
        {"- a\xE2\x80\xA9", true, "- a\xE2\x80\xA9"},
        {"\xEF\xBB\xBF- byte-order mark counts as space", true, "byte-order mark counts as space"},
        {"\xE2\x80\x93 en dash", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(IsBulletLine(c.line), c.isBullet);
        if (c.isBullet) {
            EXPECT_EQ(BulletText(c.line), c.text);
        }
    }
}

TEST(SpreadsheetParserTest, RecordColumns) {
    struct Case {
        const char* line;
        std::vector<std::string> columns;  // title, subtitle, course key, video, product code, intro
    };
    const Case cases[] = {
        {"T\tS\tkey\tvid\tP\tIntro\twith TAB\r", {"T", "S", "key", "vid", "P", "Intro\twith TAB\r"}},
        {" T \t\t key \t vid\t P \t Intro ", {" T ", "", "key", "vid", "P", " Intro "}},
        {"T\tS\t\tvid\tP\tIntro", {"T", "S", "vid", "P", "Intro", ""}},
        {"T\tS\tkey\t\t\tP\tIntro", {"T", "S", "key", "P", "Intro", ""}},
        {"T\tS\tkey", {"T", "S", "key", "", "", ""}},
        {"T", {"T", "", "", "", "", ""}},
        {"T\tS\tkey\tvid\tP\t", {"T", "S", "key", "vid", "P", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const SpreadsheetRow row = SplitRecordLine(c.line);
        EXPECT_EQ((std::vector<std::string>{row.courseTitle, row.subtitle, row.courseKey, row.vodKey, row.productCode,
                                            row.introText}),
                  c.columns);
    }
}

TEST(SpreadsheetParserTest, ReplacementTableInItsOrder) {
    const std::pair<std::string, std::string> cases[] = {
        {"a\xE2\x80\xA6, 'b' \"c\" \xE2\x80\x9C"
         "d\xE2\x80\x9D (e)",
         "a&#x2026;&#44; &#39;b&#39; &quot;c&quot; &quot;d&quot; &#40;e&#41;"},
        {"\"\"x\"\"", "&quot;x&quot;"},
        {"\"\"\"\"", "&quot;&quot;"},
        {"\"\"\"", "&quot;&quot;"},
        {"\xE2\x80\x9C\xE2\x80\x9D", "&quot;"},
        {"<p>\"Intro<ul><li>last\"</li>", "<p>Intro<ul><li>last</li>"},
        {"<p>\"\"Intro", "<p>Intro"},
        {"<p>\"\"\"x", "<p>&quot;x"},
        {"& < > \xE2\x80\x98x\xE2\x80\x99 &quot;", "& < > \xE2\x80\x98x\xE2\x80\x99 &quot;"},
        {"&#39;", "&#39;"},
    };
    for (const auto& [input, expected] : cases) {
        SCOPED_TRACE(input);
        EXPECT_EQ(ApplyCatalogueReplacements(input), expected);
    }
}

// An export as a Windows spreadsheet program writes it: Windows-1252, CR LF
// row ends, LF alone inside a quoted multi-line cell.
const std::string kExport =
    "Course Title\tSubtitle\tCourse Folder\tVideo\tProduct Code\tDescription\r\n"
    "Fire Safety, Part 1 (Basics)\tAt Work\tfire_int_en_01\tfire_vid_en__01\tFS-01\t"
    "Learn \x93"
    "fast\x94 \x85 it's easy\r\n"
    "  -  Exits\t \r\n"
    "\xA0-\xA0"
    "Nbsp item\r\n"
    "- Alarms \x91ring\x92\r\n"
    "Hazmat Pro\t\thazmat_int_sp_01\thazmat_vid_sp__01\tHM-1\t\"Intro \"\"quoted\"\" text:\n"
    "- First, item\n"
    "  - Second (two)\n"
    "- Last one\"\r\n"
    "Ladder Use\tIndoors\t\tladder_vid_01\tLU-1\tClimb safely\r\n"
    "Solo\t\tsolo_int\tsolo_vid\tS-1\tNo bullets\r\n"
    "Plain next\t\tplain_int\tplain_vid\tP-1\tx\r\n"
    "- one\r\n"
    "-dash title\t\tdash_int\tdash_vid\tD-1\tMany\r\n"
    "- b1\n- b2\n- b3\n- b4\n- b5\n- b6\n- b7\n- b8\n- b9\n- b10\n- b11\n- b12\n"
    "\tstray note\r\n"
    "\r\n"
    "Last\t\tlast_int\tlast_vid\tL-1\tThe end\x85\r\n";

const std::string kCourseLines =
    "fire_int_en_01\t<p>Learn &quot;fast&quot; &#x2026; it&#39;s easy\r"
    "<ul><li>Exits</li><li>Nbsp item</li><li>- Alarms \xE2\x80\x98ring\xE2\x80\x99</li></ul></p>\n"
    "hazmat_int_sp_01\t<p>Intro &quot;quoted&quot; text:"
    "<ul><li>- First&#44; item</li><li>Second &#40;two&#41;</li><li>- Last one</li></ul></p>\n"
    "ladder_vid_01\t<p><ul></ul></p>\n"
    "solo_int\t<p>No bullets\r<ul></ul></p>\n"
    "plain_int\t<p>x\r<ul><li>- one</li></ul></p>\n"
    "dash_int\t<p>Many\r<ul><li>- b1</li><li>- b2</li><li>- b3</li><li>- b4</li><li>- b5</li><li>- b6</li>"
    "<li>- b7</li><li>- b8</li><li>- b9</li><li>- b10</li><li>- b11</li><li>- b12</li></ul></p>\n"
    "\t<p><ul></ul></p>\n"
    "last_int\t<p>The end&#x2026;\r<ul></ul></p>\n";

const std::string kVodLines =
    "fire_vid_en__01\tFS-01\tFire Safety&#44; Part 1 &#40;Basics&#41;: At Work\t"
    "<p>Learn &quot;fast&quot; &#x2026; it&#39;s easy\r"
    "<ul><li>Exits</li><li>Nbsp item</li><li>- Alarms \xE2\x80\x98ring\xE2\x80\x99</li></ul></p>\n"
    "hazmat_vid_sp__01\tHM-1\tHazmat Pro\t<p>Intro &quot;quoted&quot; text:"
    "<ul><li>- First&#44; item</li><li>Second &#40;two&#41;</li><li>- Last one</li></ul></p>\n"
    "LU-1\tClimb safely\tLadder Use: Indoors\t<p><ul></ul></p>\n"
    "solo_vid\tS-1\tSolo\t<p>No bullets\r<ul></ul></p>\n"
    "plain_vid\tP-1\tPlain next\t<p>x\r<ul><li>- one</li></ul></p>\n"
    "dash_vid\tD-1\t-dash title\t<p>Many\r<ul><li>- b1</li><li>- b2</li><li>- b3</li><li>- b4</li><li>- b5</li>"
    "<li>- b6</li><li>- b7</li><li>- b8</li><li>- b9</li><li>- b10</li><li>- b11</li><li>- b12</li></ul></p>\n"
    "\t\t\r\t<p><ul></ul></p>\n"
    "last_vid\tL-1\tLast\t<p>The end&#x2026;\r<ul></ul></p>\n";

class ConvertSpreadsheetTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        install = MakeInstall(dir());
    }
    fs::path File(const char* name) const { return install.installFolder / name; }
    SpreadsheetResult Convert() { return ConvertSpreadsheet(install.installFolder.generic_string()); }
    TestInstall install;
    FakeUser user;
    platform::FixedClock clock{TestTime()};
};

TEST_F(ConvertSpreadsheetTest, AppendsEveryRowToBothCataloguesOnEachRun) {
    WriteBytes(File("spreadsheet.txt"), kExport);
    WriteBytes(File("HTML course descriptions.txt"), "old_int\t<p>kept</p>");
    WriteBytes(File("VOD info.txt"), "old_vid\tO-1\tOld\t<p>kept</p>\n");
    fs::permissions(File("VOD info.txt"), fs::perms::owner_write, fs::perm_options::remove);

    SpreadsheetResult result = Convert();
    EXPECT_TRUE(result.updated);
    EXPECT_EQ(result.problem, "");
    EXPECT_EQ(ReadBytes(File("HTML course descriptions.txt")), "old_int\t<p>kept</p>\n" + kCourseLines);
    EXPECT_EQ(ReadBytes(File("VOD info.txt")), "old_vid\tO-1\tOld\t<p>kept</p>\n\n" + kVodLines);
    EXPECT_TRUE((fs::status(File("VOD info.txt")).permissions() & fs::perms::owner_write) != fs::perms::none);

    // A second run appends the same lines again after an empty line.
    EXPECT_TRUE(Convert().updated);
    EXPECT_EQ(ReadBytes(File("HTML course descriptions.txt")),
              "old_int\t<p>kept</p>\n" + kCourseLines + "\n" + kCourseLines);
    EXPECT_EQ(ReadBytes(File("VOD info.txt")), "old_vid\tO-1\tOld\t<p>kept</p>\n\n" + kVodLines + "\n" + kVodLines);
}

TEST_F(ConvertSpreadsheetTest, HeaderOnlyAppendsOneLineFeedEach) {
    WriteBytes(File("spreadsheet.txt"), "Course Title\tSubtitle\r\n");
    WriteBytes(File("HTML course descriptions.txt"), "");
    WriteBytes(File("VOD info.txt"), "x\n");
    EXPECT_TRUE(Convert().updated);
    EXPECT_EQ(ReadBytes(File("HTML course descriptions.txt")), "\n");
    EXPECT_EQ(ReadBytes(File("VOD info.txt")), "x\n\n");
}

TEST_F(ConvertSpreadsheetTest, NothingChangesWhenAFileIsMissing) {
    struct Case {
        const char* name;
        bool spreadsheet, courseCatalogue, vodCatalogue;
        const char* blamed;
    };
    const Case cases[] = {
        {"no spreadsheet", false, true, true, "spreadsheet.txt"},
        {"no course catalogue", true, false, true, "HTML course descriptions.txt"},
        {"no VOD catalogue", true, true, false, "VOD info.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(install.installFolder);
        fs::create_directories(install.installFolder);
        if (c.spreadsheet) WriteBytes(File("spreadsheet.txt"), kExport);
        if (c.courseCatalogue) WriteBytes(File("HTML course descriptions.txt"), "a\t<p>b</p>\n");
        if (c.vodCatalogue) WriteBytes(File("VOD info.txt"), "v\tP\tT\t<p>d</p>\n");
        const auto before = SnapshotTree(install.installFolder);

        const SpreadsheetResult result = Convert();
        EXPECT_FALSE(result.updated);
        const std::string path = File(c.blamed).string();
        EXPECT_EQ(result.problem.rfind("'" + path + "' could not be ", 0), 0u) << result.problem;
        EXPECT_NE(result.problem.find("'HTML course descriptions.txt' and 'VOD info.txt' were not changed."),
                  std::string::npos)
            << result.problem;
        // Neither catalogue is created or appended to.
        EXPECT_EQ(SnapshotTree(install.installFolder), before);
    }
}

#ifndef _WIN32
TEST_F(ConvertSpreadsheetTest, AFailedAppendLeavesItsCatalogueWholeAndSaysSo) {
    WriteBytes(File("spreadsheet.txt"), kExport);
    WriteBytes(File("HTML course descriptions.txt"), "");
    const std::string vodBefore(4096, 'v');
    WriteBytes(File("VOD info.txt"), vodBefore);

    // A file size limit between the two appends: the course catalogue takes
    // its lines, the VOD catalogue's append fails.
    const auto limit = static_cast<rlim_t>(kCourseLines.size() + 1 + 64);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    ASSERT_TRUE(saved.rlim_cur == RLIM_INFINITY || saved.rlim_cur > limit + kVodLines.size());
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved;
    lowered.rlim_cur = limit;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &lowered), 0);
    const SpreadsheetResult result = Convert();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(result.updated);
    EXPECT_EQ(result.problem.rfind("'" + File("VOD info.txt").string() + "' could not be written: ", 0), 0u)
        << result.problem;
    EXPECT_NE(result.problem.find("'HTML course descriptions.txt' was updated; 'VOD info.txt' was not changed."),
              std::string::npos);
    EXPECT_EQ(ReadBytes(File("HTML course descriptions.txt")), "\n" + kCourseLines);
    EXPECT_EQ(ReadBytes(File("VOD info.txt")), vodBefore);
}
#endif

TEST_F(ConvertSpreadsheetTest, TheDriverReportsTheOutcome) {
    CourseSettings settings = DefaultOkSettings();
    settings.updateFromSpreadsheet = true;
    user.settings = settings;
    WriteBytes(File("spreadsheet.txt"), kExport);
    WriteBytes(File("HTML course descriptions.txt"), "");
    {
        QuarvelRun run(user, clock, install.store());
        run.RunSelectedJob();
    }
    WriteBytes(File("VOD info.txt"), "");
    {
        QuarvelRun run(user, clock, install.store());
        run.RunSelectedJob();
    }
    ASSERT_EQ(user.messages.size(), 2u);
    EXPECT_EQ(user.messages[0].caption, "Files not updated");
    EXPECT_EQ(user.messages[0].text.rfind("'" + File("VOD info.txt").string() + "' could not be opened: ", 0), 0u);
    EXPECT_EQ(user.messages[0].style, MessageStyle::Stop);
    EXPECT_EQ(user.messages[1].text, "'HTML course descriptions.txt' and 'VOD info.txt updated'");
    EXPECT_EQ(user.messages[1].caption, "Files updated");
    EXPECT_EQ(user.messages[1].style, MessageStyle::Plain);
    EXPECT_TRUE(user.folderRequests.empty());
    EXPECT_EQ(ReadBytes(File("HTML course descriptions.txt")), "\n" + kCourseLines);
    EXPECT_EQ(ReadBytes(File("VOD info.txt")), "\n" + kVodLines);
}

TEST(SpreadsheetParserTest, MultiMegabyteCellsNeedNoDeepStack) {
    // A backtracking regex engine recursing per character would overflow here.
    const std::string cell(2 << 20, 'x');
    const std::string text = "h\nT\t\tk\tv\tP\t" + cell + "\n- " + cell + " \r\n- " + cell + "\r" + cell + "\n";
    const std::vector<SpreadsheetRow> rows = ParseSpreadsheetText(text);
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_EQ(rows[0].bullets.size(), 1u);
    EXPECT_EQ(rows[0].bullets[0], "- " + cell);
    EXPECT_EQ(rows[1].courseTitle.size(), 2 + 2 * cell.size() + 1);
}

}  // namespace
