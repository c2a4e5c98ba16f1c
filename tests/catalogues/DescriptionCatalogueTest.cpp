#include <chrono>

#include "catalogues/DescriptionCatalogue.h"
#include "catalogues/DescriptionLookup.h"
#include "support/TestSupport.h"

namespace {

TEST(ParseDescriptionCatalogueTest, EachLineRuleKeepsOrSkipsTheLine) {
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<std::pair<std::string, std::string>> entries;
    };
    const Case cases[] = {
        {"plain line", "abc\t<p>A</p>\n", {{"abc", "<p>A</p>"}}},
        {"byte-order mark",
         "\xEF\xBB\xBF"
         "abc\t<p>A</p>",
         {{"abc", "<p>A</p>"}}},
        {"CR LF and several CRs", "abc\t<p>A</p>\r\r\n", {{"abc", "<p>A</p>"}}},
        {"CR inside a line stays", "abc\t<p>\rA</p>\n", {{"abc", "<p>\rA</p>"}}},
        {"TABs before the key", "\t\tabc\t<p>A</p>\n", {{"abc", "<p>A</p>"}}},
        {"spaces belong to the key", "  abc\t<p>A</p>\n", {{"  abc", "<p>A</p>"}}},
        {"two TABs", "abc\t\t<p>A</p>\n", {{"abc", "\t<p>A</p>"}}},
        {"further TABs kept", "abc\t<p>A\tB</p>\n", {{"abc", "<p>A\tB</p>"}}},
        {"nothing after the TAB", "abc\t\r\n", {}},
        {"no TAB", "abc <p>A</p>\n", {}},
        {"TABs only", "\t\t\n", {}},
        {"empty lines", "\n\n\r\nabc\tA\n\n\nxyz\tB", {{"abc", "A"}, {"xyz", "B"}}},
        {"invalid UTF-8 replaced", "abc\tcaf\xE9\n", {{"abc", "caf\xEF\xBF\xBD"}}},
        {"empty file", "", {}},
        {"mark only", "\xEF\xBB\xBF", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DescriptionCatalogue parsed = ParseDescriptionCatalogue(c.bytes);
        std::vector<std::pair<std::string, std::string>> got;
        for (const DescriptionEntry& e : parsed) got.emplace_back(e.courseKey, e.htmlDescription);
        EXPECT_EQ(got, c.entries);
    }
}

class DescriptionCatalogueTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        install = MakeInstall(dir());
    }
    // The lookup keeps its catalogue open; Windows lets the folder go only once it is closed.
    void TearDown() override {
        descriptions = DescriptionLookup();
        TempDirTest::TearDown();
    }
    void Load() { descriptions.LoadDescriptionCatalogue(install.installFolder.generic_string()); }
    fs::path CatalogueFile() const { return install.installFolder / "HTML course descriptions.txt"; }

    TestInstall install;
    DescriptionLookup descriptions;
};

TEST_F(DescriptionCatalogueTest, TheFirstEntryOfAKeyWinsInAnyLetterCase) {
    WriteBytes(CatalogueFile(),
               "Abc_Int_01\t<p>first</p>\r\nxyz\t<p>x</p>\r\n\n"
               "ABC_INT_01\t<p>appended later</p>\n\xC3\x89t\xC3\xA9\t<p>e</p>\n");
    Load();
    EXPECT_EQ(descriptions.Entries().size(), 4u);
    EXPECT_EQ(descriptions.FindCourseDescription("abc_int_01"), std::optional<std::string>("<p>first</p>"));
    EXPECT_EQ(descriptions.FindCourseDescription("ABC_int_01"), std::optional<std::string>("<p>first</p>"));
    EXPECT_EQ(descriptions.FindCourseDescription("XYZ"), std::optional<std::string>("<p>x</p>"));
    EXPECT_EQ(descriptions.FindCourseDescription("\xC3\xA9t\xC3\xA9"), std::optional<std::string>("<p>e</p>"));
    EXPECT_EQ(descriptions.FindCourseDescription("abc_int_0"), std::nullopt);
    EXPECT_EQ(descriptions.FindCourseDescription(" xyz"), std::nullopt);

    // Loading again starts afresh.
    WriteBytes(CatalogueFile(), "xyz\t<p>new</p>\n");
    Load();
    EXPECT_EQ(descriptions.Entries().size(), 1u);
    EXPECT_EQ(descriptions.FindCourseDescription("abc_int_01"), std::nullopt);
    EXPECT_EQ(descriptions.FindCourseDescription("xyz"), std::optional<std::string>("<p>new</p>"));
}

TEST_F(DescriptionCatalogueTest, AMissingFileLeavesTheCatalogueEmpty) {
    WriteBytes(CatalogueFile(), "old\tx\n");
    Load();
    fs::remove(CatalogueFile());
    Load();
    EXPECT_TRUE(descriptions.Entries().empty());
    EXPECT_EQ(descriptions.FindCourseDescription("old"), std::nullopt);
}

TEST_F(DescriptionCatalogueTest, ALargeCatalogueIsLookedUpWithoutScanning) {
    std::string bytes;
    const int count = 200000;
    for (int i = 0; i < count; ++i) bytes += "course_" + std::to_string(i) + "\t<p>" + std::to_string(i) + "</p>\n";
    WriteBytes(CatalogueFile(), bytes);
    Load();
    ASSERT_EQ(descriptions.Entries().size(), static_cast<std::size_t>(count));
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        ASSERT_TRUE(descriptions.FindCourseDescription("COURSE_" + std::to_string(i)).has_value());
    }
    // A scan per lookup would take minutes here.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST_F(DescriptionCatalogueTest, ALookupReadsBackTheLineTheWholeFileGives) {
    const std::string longText(10000, 'x');  // longer than a lookup's first read
    WriteBytes(CatalogueFile(),
               "\xEF\xBB\xBF"
               "first\t<p>1</p>\r\n\tlong\t" +
                   longText + "\r\r\nbad\tcaf\xE9\nlast\tno line end");
    Load();
    EXPECT_EQ(descriptions.Entries().size(), 4u);
    const std::pair<std::string, std::string> cases[] = {
        {"first", "<p>1</p>"}, {"long", longText}, {"bad", "caf\xEF\xBF\xBD"}, {"last", "no line end"}};
    for (const auto& [key, description] : cases) {
        EXPECT_EQ(descriptions.FindCourseDescription(key), std::optional<std::string>(description)) << key;
    }
}

}  // namespace
