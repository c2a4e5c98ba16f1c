#include "WriterFixture.h"
#include "bundle/CourseRecord.h"
#include "platform/Text.h"
#include "writers/Scorm2004Manifest.h"

TEST(Scorm2004ManifestPartsTest, PassMarkAndLanguage) {
    const struct {
        int mark;
        const char* measure;
    } marks[] = {{0, "0"}, {5, "0.05"}, {10, "0.1"}, {75, "0.75"}, {80, "0.8"}, {99, "0.99"}, {100, "1"}, {150, "1"}};
    for (const auto& row : marks) {
        SCOPED_TRACE(row.mark);
        EXPECT_EQ(NormalizedPassMark(row.mark), row.measure);
    }
    EXPECT_EQ(LanguageCodeOf("ENGLISH"), "en");
    EXPECT_EQ(LanguageCodeOf("espa\xC3\xB1ol"), "es");
    EXPECT_EQ(LanguageCodeOf("Portugu\xC3\xAAs"), "pt");
    EXPECT_EQ(LanguageCodeOf("German"), "en");
}

TEST(Scorm2004ManifestPartsTest, CarriedOverValues) {
    const struct {
        const char* name;
        std::string text;
        CarriedOverValues values;
    } rows[] = {
        {"SCORM 1.2 manifest with CR LF",
         ReadBytes(kWriterData / "manifest-crlf-empty-lines.xml"),
         {"Fire safety &amp; you", "Fire safety at work", "<p>Learn the basics: 100% practical.</p>"}},
        {"SCORM 2004 manifest",
         ReadBytes(kWriterData / "expected-2004-manifest-from-crlf.xml"),
         {"Fire safety &amp; you", "Fire safety at work", "<p>Learn the basics: 100% practical.</p>"}},
        {"SCORM 1.2 manifest written without an old one: no values",
         ReadBytes(kWriterData / "expected-manifest-no-old.xml"),
         {"", "", ""}},
        {"stray ampersand escaped, references kept, white space trimmed",
         "<title>\n  A & B &#44; C\t</title><title><langstring> x & y </langstring></title>",
         {"A &amp; B &#44; C", "x &amp; y", ""}},
        {"the first plain title wins over a metadata title before it",
         "<title><string language=\"en\">Text</string></title>\n<title>Org</title>",
         {"Org", "Text", ""}},
        {"string elements: attributes taken, empty and prefixed names passed over",
         "<title><string/><strings>no</strings><string language=\"es\">Texto</string></title>",
         {"", "Texto", ""}},
        {"split section joined, later sections not",
         "<![CDATA[a]]]]><![CDATA[>b]]>\n<![CDATA[other]]>",
         {"", "", "a]]>b"}},
        {"unterminated section", "<![CDATA[half\n", {"", "", ""}},
        {"unterminated title", "<title>Half", {"", "", ""}},
        {"markers are case-sensitive", "<TITLE>T</TITLE><![cdata[x]]>", {"", "", ""}},
        {"nothing", "", {"", "", ""}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const CarriedOverValues values = FindCarriedOverValues(DecodeManifestText(row.text));
        EXPECT_EQ(values.title, row.values.title);
        EXPECT_EQ(values.titleText, row.values.titleText);
        EXPECT_EQ(values.description, row.values.description);
    }
}

class Scorm2004ManifestTest : public WriterTest {
protected:
    void SetUp() override {
        WriterTest::SetUp();
        WriteBytes(web() / "scripts" / "NimbrelWebPlayer.js", "// player\n");
        SetModifiedDate(web() / "scripts" / "NimbrelWebPlayer.js", 2026, 3, 5);
        run->record.ProductCode = "NB-FIRE-101";
        run->record.Language = "English";
        run->record.WebTitle = "Fire Safety: Basics";
    }
    fs::path manifest() const { return course() / "imsmanifest.xml"; }
    std::string Write() {
        WriteScorm2004Manifest(run->files, manifest().string(),
                               ManifestFromRecord(run->record, run->settings, run->installation),
                               run->settings.exitStatusMode);
        run->files.Commit();
        return ReadBytes(manifest());
    }
    void CopyOldManifest(const char* name) {
        fs::copy_file(kWriterData / name, manifest(), fs::copy_options::overwrite_existing);
    }
    static std::string Data(const char* name) { return ReadBytes(kWriterData / name); }
};

TEST_F(Scorm2004ManifestTest, WithoutOldManifestTheTitleComesFromTheRecord) {
    EXPECT_EQ(Write(), Data("expected-2004-manifest-no-old.xml"));
    // Regenerated, it stays the same.
    EXPECT_EQ(Write(), Data("expected-2004-manifest-no-old.xml"));

    const struct {
        const char* name;
        std::string webTitle;
        std::string courseID;
        std::string title;
        std::string key;
    } rows[] = {
        {"references kept, stray ampersand escaped", " Fire &#44; & <Safety> ", "fire101",
         "Fire &#44; &amp; &lt;Safety&gt;", "fire101"},
        {"no title: the course key", "", "fire&101", "fire&amp;101", "fire&amp;101"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(manifest());
        run->record.WebTitle = row.webTitle;
        run->record.courseID = row.courseID;
        std::string expected = Data("expected-2004-manifest-no-old.xml");
        platform::ReplaceAllInPlace(expected, "Fire Safety: Basics", row.title);
        platform::ReplaceAllInPlace(expected, "\"fire101", "\"" + row.key);
        EXPECT_EQ(Write(), expected);
    }
}

TEST_F(Scorm2004ManifestTest, FromAScorm12ManifestAndBackToItself) {
    CopyOldManifest("manifest-crlf-empty-lines.xml");
    fs::permissions(manifest(), fs::perms::owner_read | fs::perms::group_read);
    run->settings.posttestPassingScore = 80;
    EXPECT_EQ(Write(), Data("expected-2004-manifest-from-crlf.xml"));
    // Its own output hands on the same values.
    EXPECT_EQ(Write(), Data("expected-2004-manifest-from-crlf.xml"));
    EXPECT_EQ(run->report.updatedList, "");
    if (!kPosixFileSystem) return;  // the rest is about permission bits
    EXPECT_EQ(fs::status(manifest()).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(Scorm2004ManifestTest, PassMarkModeLanguageAndDescription) {
    const std::string byMeasure = "<imsss:primaryObjective satisfiedByMeasure=\"true\">";
    const std::string measure = "<imsss:minNormalizedMeasure>0.8<";
    const std::string sequencing =
        "\t\t\t\t<imsss:sequencing>\n\t\t\t\t\t<imsss:objectives>\n"
        "\t\t\t\t\t\t<imsss:primaryObjective satisfiedByMeasure=\"true\">\n"
        "\t\t\t\t\t\t\t<imsss:minNormalizedMeasure>0.8</imsss:minNormalizedMeasure>\n"
        "\t\t\t\t\t\t</imsss:primaryObjective>\n\t\t\t\t\t</imsss:objectives>\n\t\t\t\t</imsss:sequencing>\n";
    const std::string oldDescription = "<![CDATA[<p>Learn the basics: 100% practical.</p>]]>";
    using M = ExitStatusMode;
    const struct {
        const char* name;
        int score;
        M mode;
        std::string language;
        bool fromInterface;
        bool fromHtml;
        std::string webDescription;
        std::vector<std::pair<std::string, std::string>> changes;
    } rows[] = {
        {"conformant mode, pass mark 80", 80, M::ScormConformant, "English", false, false, "", {}},
        {"other modes: the mode decides success",
         80,
         M::CompletedIncomplete,
         "English",
         false,
         false,
         "",
         {{byMeasure, "<imsss:primaryObjective>"}}},
        {"passed or incomplete",
         75,
         M::PassedIncomplete,
         "English",
         false,
         false,
         "",
         {{byMeasure, "<imsss:primaryObjective>"}, {measure, "<imsss:minNormalizedMeasure>0.75<"}}},
        {"no pass mark: no sequencing", -1, M::ScormConformant, "English", false, false, "", {{sequencing, ""}}},
        {"pass mark 0",
         0,
         M::PassedNoPosttest,
         "English",
         false,
         false,
         "",
         {{byMeasure, "<imsss:primaryObjective>"}, {measure, "<imsss:minNormalizedMeasure>0<"}}},
        {"language of the strings",
         80,
         M::ScormConformant,
         "PORTUGU\xC3\xAAS",
         false,
         false,
         "",
         {{"language=\"en\"", "language=\"pt\""}}},
        {"description from interface.xml",
         100,
         M::ScormConformant,
         "Espa\xC3\xB1ol",
         true,
         false,
         "&lt;p&gt;New &lt;b&gt;text&lt;/b&gt; &amp; more]]&gt;&lt;/p&gt;",
         {{measure, "<imsss:minNormalizedMeasure>1<"},
          {"language=\"en\"", "language=\"es\""},
          {oldDescription, "<![CDATA[<p>New <b>text</b> &amp; more]]]]><![CDATA[></p>]]>"}}},
        {"empty description from the catalogue: none",
         80,
         M::ScormConformant,
         "English",
         false,
         true,
         "",
         {{"\t\t\t\t\t\t<description>\n\t\t\t\t\t\t\t<string language=\"en\">\n\t\t\t\t\t\t\t\t" + oldDescription +
               "\n\t\t\t\t\t\t\t</string>\n\t\t\t\t\t\t</description>\n",
           ""}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CopyOldManifest("manifest-crlf-empty-lines.xml");
        run->settings.posttestPassingScore = row.score;
        run->settings.exitStatusMode = row.mode;
        run->settings.updateDescriptionsInInterfaceXml = row.fromInterface;
        run->settings.updateDescriptionsFromHtml = row.fromHtml;
        run->record.Language = row.language;
        run->record.WebDescription = row.webDescription;
        std::string expected = Data("expected-2004-manifest-from-crlf.xml");
        for (const auto& [from, to] : row.changes) {
            ASSERT_NE(expected.find(from), std::string::npos) << from;
            platform::ReplaceAllInPlace(expected, from, to);
        }
        EXPECT_EQ(Write(), expected);
    }
}

TEST_F(Scorm2004ManifestTest, NoMetadataWithoutTitleTextOrDescription) {
    // Only the organization title is handed on: no LOM at all.
    WriteBytes(manifest(), "<organization><title>Old title</title></organization>\n");
    std::string expected = Data("expected-2004-manifest-no-old.xml");
    platform::ReplaceAllInPlace(expected, "Fire Safety: Basics", "Old title");
    EXPECT_EQ(Write(), expected);

    // Only a description: LOM without a title.
    WriteBytes(manifest(), "<![CDATA[Only this]]>\n");
    const std::string text = Write();
    EXPECT_NE(text.find("\t\t\t\t\t<general>\n\t\t\t\t\t\t<description>\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("<title>\n"), std::string::npos) << text;
}

// A bundle switched back to SCORM 1.2 takes lines, not values, from the 2004
// manifest: they must be whole 1.2 lines, with nothing of LOM in them.
TEST_F(Scorm2004ManifestTest, Scorm12RunOverIt) {
    CopyOldManifest("manifest-crlf-empty-lines.xml");
    std::ignore = Write();
    WriteScormManifest(run->files, manifest().string(),
                       ManifestFromRecord(run->record, run->settings, run->installation));
    run->files.Commit();
    const std::string scorm12 = ReadBytes(manifest());
    EXPECT_NE(scorm12.find("\n\t\t\t<title>Fire safety &amp; you</title>\n\t\t<item "), std::string::npos) << scorm12;
    EXPECT_NE(scorm12.find("\n\t\t\t\t\t\t\t\t<![CDATA[<p>Learn the basics: 100% practical.</p>]]>\n"),
              std::string::npos)
        << scorm12;
    EXPECT_EQ(scorm12.find("<string"), std::string::npos) << scorm12;
    EXPECT_EQ(scorm12.find("LOM"), std::string::npos) << scorm12;
}
