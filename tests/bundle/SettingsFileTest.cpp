#include <optional>

#include "bundle/SettingsFile.h"
#include "support/TestSupport.h"

namespace {

TEST(ReadSettingsLinesTest, SplitsIntoHeaderAndLinesWhateverTheLineEnds) {
    const std::vector<std::string> expectedLines = {"\t<A>1</A>", "  <B>2</B>", "</xmlFile>"};
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"LF", "<?xml?>\n\t<A>1</A>\n  <B>2</B>\n</xmlFile>\n"},
        {"CR LF and BOM", "\xEF\xBB\xBF<?xml?>\r\n\t<A>1</A>\r\n  <B>2</B>\r\n</xmlFile>\r\n"},
        {"empty and CR-only lines", "\n\r\n<?xml?>\n\n\t<A>1</A>\r\r\n\r\n  <B>2</B>\n\r\r\n</xmlFile>"},
        {"CR in front of a line and text after a CR", "<?xml?>\r\n\r\t<A>1</A>\rjunk\n  <B>2</B>\n</xmlFile>\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SettingsLines read = ReadSettingsLines(c.bytes);
        EXPECT_TRUE(read.isUtf8);
        EXPECT_EQ(read.header, std::optional<std::string>("<?xml?>"));
        EXPECT_EQ(read.lines, expectedLines);
    }
}

TEST(ReadSettingsLinesTest, RefusesWhatIsNotUtf8) {
    struct Case {
        const char* name;
        std::string bytes;
        bool isUtf8;
    };
    const Case cases[] = {
        {"UTF-16LE", std::string("\xFF\xFE<\0x\0", 6), false},
        {"UTF-16BE", std::string("\xFE\xFF\0<\0x", 6), false},
        {"UTF-16 without a mark", std::string("<\0x\0m\0l\0", 8), false},
        {"Latin-1 byte", "<a>caf\xE9</a>\n", false},
        {"truncated sequence", "<a>\xC3</a>\n", false},
        {"NUL byte", std::string("<a>\0</a>\n", 9), false},
        {"UTF-8 with mark", "\xEF\xBB\xBF<a>caf\xC3\xA9</a>\n", true},
        {"UTF-8 without mark", "<a>\xE2\x80\xA6</a>\n", true},
        {"four-byte character", "<a>\xF0\x9F\x98\x80\xF0\x9F\x98\x80</a>", true},
        {"sequence cut short by the end", "<a>\xF0\x9F\x98", false},
        {"continuation bytes after a whole sequence", "<a>\xE2\x80\xA6\x80\x80\x80\x80", false},
        {"mark only", "\xEF\xBB\xBF", true},
        {"CRs and LFs only", "\r\n\n\r", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SettingsLines read = ReadSettingsLines(c.bytes);
        EXPECT_EQ(read.isUtf8, c.isUtf8);
        if (!c.isUtf8) {
            EXPECT_FALSE(read.header.has_value());
        }
        // The look through the file before it is rewritten, a buffer at a
        // time, whatever the sequences the buffers cut.
        for (const std::size_t buffer : {1, 2, 3, 5, 1 << 20}) {
            SCOPED_TRACE("buffer " + std::to_string(buffer));
            const SettingsFileCheck check = CheckSettingsFile(ReadFrom(c.bytes), buffer);
            EXPECT_EQ(check.isUtf8, c.isUtf8);
            EXPECT_EQ(check.hasText, read.header.has_value());
        }
    }
}

TEST(ReadSettingsLinesTest, AFileWithoutTextHasNoHeader) {
    for (const std::string& bytes : {std::string(), std::string("\xEF\xBB\xBF"), std::string("\r\n\n\r")}) {
        const SettingsLines read = ReadSettingsLines(bytes);
        EXPECT_TRUE(read.isUtf8);
        EXPECT_FALSE(read.header.has_value());
        EXPECT_TRUE(read.lines.empty());
    }
}

TEST(ElementValueTest, TakesTheTextBetweenTheFirstTags) {
    struct Case {
        const char* line;
        const char* name;
        const char* value;
    };
    const Case cases[] = {
        {"\t<Language>French</Language>", "Language", "French"},
        {"\t<WebTitle>Fire  </WebTitle>", "WebTitle", "Fire  "},
        {"<Language>French", "Language", ""},
        {"</Language>x<Language>", "Language", ""},
        {"<Language></Language>", "Language", ""},
        {"<language>French</language>", "Language", ""},
        {"<A>1</A><A>2</A>", "A", "1"},
        {"<A>&amp; 100%</A>", "A", "&amp; 100%"},
        {"<WebDescription>x</WebDescription>", "Description", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(ElementValue(c.line, c.name), c.value);
    }
}

TEST(BackgroundCodeTest, PicksTheLettersByCoursePrefix) {
    const std::pair<const char*, const char*> cases[] = {
        {"hrs_fin_101", "fin"},
        {"HRS_fin_101", "fin"},
        {"hrs", ""},
        {"hrs_f", "f"},
        {"xxx_demo", "cst"},
        {"XxX", "cst"},
        {"abc123", "abc"},
        {"ab", "ab"},
        {"\xC3\xA9t\xC3\xA9_1", "\xC3\xA9t\xC3\xA9"},
        {"hrs_\xC3\xA9t\xC3\xA9s", "\xC3\xA9t\xC3\xA9"},
    };
    for (const auto& [courseID, code] : cases) {
        SCOPED_TRACE(courseID);
        EXPECT_EQ(BackgroundCode(courseID), code);
    }
}

class LocateContentFolderTest : public TempDirTest {
protected:
    RunReport report;
    BundleFiles files{report};
};

TEST_F(LocateContentFolderTest, FindsTheFourLayouts) {
    fs::create_directories(dir() / "Bundled" / "Course Bundle");
    fs::create_directories(dir() / "WithMedia" / "withmedia" / "media");
    fs::create_directories(dir() / "Named" / "NAMED");
    fs::create_directories(dir() / "Plain" / "controls");
    fs::create_directories(dir() / "Outer" / "outer" / "media" / "Inner");
    const std::pair<std::string, std::string> cases[] = {
        {path("Bundled"), path("Bundled") + "/course bundle/bundled/media"},
        {path("WithMedia"), path("WithMedia") + "/withmedia/media"},
        {path("Named"), path("Named") + "/named"},
        {path("Plain"), path("Plain")},
        // A course kept in a media folder is named by the folder in front of it.
        {path("Outer/outer/media/Inner"), path("Outer/outer/media/Inner")},
        {path("Missing"), path("Missing")},
    };
    for (const auto& [course, content] : cases) {
        SCOPED_TRACE(course);
        EXPECT_EQ(LocateContentFolder(files, course), content);
    }
    fs::create_directories(dir() / "Outer" / "outer" / "media" / "Inner" / "outer");
    EXPECT_EQ(LocateContentFolder(files, path("Outer/outer/media/Inner")), path("Outer/outer/media/Inner/outer"));
}

TEST(CourseFolderNameTest, IsTheFolderInFrontOfMediaButNotTheMountFolder) {
    const std::pair<const char*, const char*> cases[] = {
        {"/c/Abc", "Abc"},
        {"/c/Abc/media/x", "Abc"},
        {"/c/Abc/mediafiles", "Abc"},
        {"/c/a/media/b/media", "a"},
        // Removable drives are mounted under /media.
        {"/media/user/USB/Abc", "Abc"},
        {"/media/user/Abc/media/x", "Abc"},
    };
    for (const auto& [course, name] : cases) {
        SCOPED_TRACE(course);
        EXPECT_EQ(CourseFolderName(course), name);
    }
}

}  // namespace
