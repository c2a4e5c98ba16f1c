#include "catalogues/VodCatalogueParser.h"
#include "catalogues/VodInfoLookup.h"
#include "support/TestSupport.h"

namespace {

struct Fields {
    std::string vodKey, productCode, courseTitle, htmlDescription;
};

void ExpectEntries(const VodCatalogue& actual, const std::vector<Fields>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("entry " + std::to_string(i));
        EXPECT_EQ(actual[i].vodKey, expected[i].vodKey);
        EXPECT_EQ(actual[i].productCode, expected[i].productCode);
        EXPECT_EQ(actual[i].courseTitle, expected[i].courseTitle);
        EXPECT_EQ(actual[i].htmlDescription, expected[i].htmlDescription);
    }
}

TEST(VodCatalogueParserTest, LinesAndFields) {
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<Fields> expected;
    };
    const Case cases[] = {
        {"four fields, further TABs stay in the description",
         "a_vid_1\tP1\tTitle: Sub\t<p>x\ty<ul></ul></p>\n",
         {{"a_vid_1", "P1", "Title: Sub", "<p>x\ty<ul></ul></p>"}}},
        {"empty product code takes the key", "k\t\tTitle\t<p>d</p>\n", {{"k", "k", "Title", "<p>d</p>"}}},
        {"TAB runs before the title are one separator; leading TABs skipped",
         "\t\tk\tP\t\t\tTitle\t\td\n",
         {{"k", "P", "Title", "\td"}}},
        {"key only, and a key with a trailing TAB", "k1\nk2\t\n", {{"k1", "", "", ""}, {"k2", "", "", ""}}},
        {"byte-order mark dropped, first line trimmed, later lines not",
         "\xEF\xBB\xBF  k1 \t P1 \t T \td\n k2 \t P2 \tT\td\n",
         {{"k1", "P1", " T ", "d"}, {" k2 ", " P2 ", "T", "d"}}},
        {"leading blank lines before the first entry", "\r\n\n\r\n  k1\tP1\tT\td\r\n", {{"k1", "P1", "T", "d"}}},
        {"a CR cuts the line; CRs in front are skipped",
         "k1\tP1\tT\t<p>a\rb</p>\r\n\r\rk2\tP2\tT2\td2\r\n",
         {{"k1", "P1", "T", "<p>a"}, {"k2", "P2", "T2", "d2"}}},
        {"an empty CR LF line ends the reading", "k1\tP1\tT\td\r\n\r\nk2\tP2\tT\td\r\n", {{"k1", "P1", "T", "d"}}},
        {"runs of LF are no lines", "k1\tP\tT\td\n\n\nk2\tP\tT\td", {{"k1", "P", "T", "d"}, {"k2", "P", "T", "d"}}},
        {"a line of TABs makes an empty entry", "k1\n\t\t\n", {{"k1", "", "", ""}, {"", "", "", ""}}},
        {"empty file", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectEntries(ParseVodCatalogue(c.bytes), c.expected);
    }
}

class VodCatalogueTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        install = MakeInstall(dir());
    }
    std::string Folder() const { return install.installFolder.generic_string(); }
    TestInstall install;
};

TEST_F(VodCatalogueTest, LookupIgnoresCaseAndTakesTheFirstLine) {
    WriteBytes(install.installFolder / "VOD info.txt",
               "Safety_VID_en__01\tOLD\tOld title\t<p>old</p>\n"
               "\nsafety_vid_EN__01\tNEW\tNew title\t<p>new</p>\n"
               "\xC3\x89t\xC3\xA9_vid_sp\t\tT\td\n");
    VodInfoLookup vodInfo;
    vodInfo.LoadVodCatalogue(Folder());
    ASSERT_EQ(vodInfo.Entries().size(), 3u);

    const VodInfoEntry* found = vodInfo.FindVodInfo("safety_vid_en__01");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->productCode, "OLD");
    EXPECT_EQ(vodInfo.FindVodInfo("SAFETY_vid_en__01"), found);
    // Letters beyond A-Z compare by their lower case too.
    ASSERT_NE(vodInfo.FindVodInfo("\xC3\xA9t\xC3\xA9_vid_sp"), nullptr);
    EXPECT_EQ(vodInfo.FindVodInfo("\xC3\xA9t\xC3\xA9_vid_sp")->productCode, "\xC3\x89t\xC3\xA9_vid_sp");
    // Whole-string equality only.
    EXPECT_EQ(vodInfo.FindVodInfo("safety_vid_en__0"), nullptr);
    EXPECT_EQ(vodInfo.FindVodInfo(" safety_vid_en__01"), nullptr);
}

TEST_F(VodCatalogueTest, ReloadingFollowsTheFileAndAMissingFileEmptiesTheTable) {
    const fs::path file = install.installFolder / "VOD info.txt";
    WriteBytes(file, "a\tP\tT\td\n");
    VodInfoLookup vodInfo;
    vodInfo.LoadVodCatalogue(Folder());
    ASSERT_NE(vodInfo.FindVodInfo("a"), nullptr);

    // Same size, new content: a reload sees it.
    WriteBytes(file, "b\tP\tT\td\n");
    vodInfo.LoadVodCatalogue(Folder());
    EXPECT_EQ(vodInfo.FindVodInfo("a"), nullptr);
    ASSERT_NE(vodInfo.FindVodInfo("b"), nullptr);

    fs::remove(file);
    vodInfo.LoadVodCatalogue(Folder());
    EXPECT_TRUE(vodInfo.Entries().empty());
    EXPECT_EQ(vodInfo.FindVodInfo("b"), nullptr);
}

TEST_F(VodCatalogueTest, ALookupReadsBackTheEntryTheWholeFileGives) {
    const std::string longTitle(10000, 't');  // longer than a lookup's first read
    const std::string bytes = "\xEF\xBB\xBF\r\n  First \t Code \tT\td\r\nlong\tP\t" + longTitle +
                              "\td\r\nFIRST\tdup\tT\td\n\r\nafter\tP\tT\td\n";
    WriteBytes(install.installFolder / "VOD info.txt", bytes);
    VodInfoLookup vodInfo;
    vodInfo.LoadVodCatalogue(Folder());
    const VodCatalogue parsed = ParseVodCatalogue(bytes);
    ASSERT_EQ(parsed.size(), 3u);
    EXPECT_EQ(vodInfo.Entries().size(), parsed.size());
    const auto fields = [](const VodInfoEntry& e) {
        return std::tie(e.vodKey, e.productCode, e.courseTitle, e.htmlDescription);
    };
    for (const auto& [title, entry] : {std::pair{"first", 0}, {"FIRST", 0}, {"long", 1}}) {
        SCOPED_TRACE(title);
        const VodInfoEntry* found = vodInfo.FindVodInfo(title);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(fields(*found), fields(parsed[static_cast<std::size_t>(entry)]));
    }
    // Past the empty line that ends the catalogue.
    EXPECT_EQ(vodInfo.FindVodInfo("after"), nullptr);
}

}  // namespace
