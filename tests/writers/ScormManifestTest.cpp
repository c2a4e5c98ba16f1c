#include "WriterFixture.h"
#include "XmlLint.h"
#include "bundle/CourseRecord.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "writers/Scorm2004Manifest.h"
#include "writers/ScormManifest.h"
#include "writers/UploadCheck.h"

TEST(ManifestPartsTest, LanguageLines) {
    const struct {
        std::string language;
        const char* code;
    } rows[] = {
        {"English", "en"},          {"english", "en"},        {"Espa\xC3\xB1ol", "es"},
        {"ESPA\xC3\xB1OL", "es"},   {"ESPA\xC3\x91OL", "en"}, {"Portugu\xC3\xAAs", "po"},
        {"portugu\xC3\xAAs", "po"}, {"German", "en"},         {"", "en"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.language);
        EXPECT_EQ(LanguageLine(row.language), std::string("\t\t\t\t\t<language>") + row.code + "</language>");
    }
}

TEST(ManifestPartsTest, DateStampAndDescriptionLine) {
    EXPECT_EQ(PlayerDateStamp(platform::LocalDate{2026, 3, 5}), "03052026");
    EXPECT_EQ(PlayerDateStamp(platform::LocalDate{987, 12, 31}), "12310987");
    EXPECT_EQ(PlayerDateStamp(std::nullopt), "00000000");
    EXPECT_EQ(DescriptionLineFrom("&lt;p&gt;A &amp;lt; 5% &lt;b&gt;&amp;&lt;/b&gt;&lt;/p&gt;"),
              "\t\t\t\t\t\t\t<![CDATA[<p>A &amp;lt; 5% <b>&amp;</b></p>]]>");
    // The section must not end early: "]]>" (also as "]]&gt;") is split.
    EXPECT_EQ(DescriptionLineFrom("a]]>b]]&gt;c]]"), "\t\t\t\t\t\t\t<![CDATA[a]]]]><![CDATA[>b]]]]><![CDATA[>c]]]]>");
}

TEST(ManifestPartsTest, CarriedOverLines) {
    const struct {
        const char* name;
        std::string text;
        CarriedOverLines lines;
    } rows[] = {
        {"whole elements",
         "\n\r\n  <title>T</title> x\r\n<title>U</title>\n<langstring>L</langstring>\n<![CDATA[D]]>\r\n",
         {"  <title>T</title> x", "<langstring>L</langstring>", "<![CDATA[D]]>"}},
        {"bare opening tags hand on nothing",
         "\t\t\t\t\t<title>\n\t\t<title>T</title>\n\t\t\t\t\t\t<langstring>\n<langstring>L</langstring>\n",
         {"", "", ""}},
        {"closing tag before opening tag", "</title><title>\n", {"", "", ""}},
        {"cdata line taken as it stands", "<![CDATA[half\nrest]]>\n", {"", "", "<![CDATA[half"}},
        {"markers are case-sensitive", "<TITLE>T</TITLE>\n<![cdata[x]]>\n", {"", "", ""}},
        {"nothing", "", {"", "", ""}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const CarriedOverLines lines = FindCarriedOverLines(row.text);
        EXPECT_EQ(lines.title, row.lines.title);
        EXPECT_EQ(lines.titleText, row.lines.titleText);
        EXPECT_EQ(lines.description, row.lines.description);
    }
    EXPECT_EQ(DecodeManifestText("\xEF\xBB\xBFx\xFFy"), "x\xEF\xBF\xBDy");
}

class ScormManifestTest : public WriterTest {
protected:
    void SetUp() override {
        WriterTest::SetUp();
        WriteBytes(player(), "// player\n");
        SetModifiedDate(player(), 2026, 3, 5);
        run->record.ProductCode = "NB-FIRE-101";
        run->record.Language = "English";
    }
    fs::path player() const { return web() / "scripts" / "NimbrelWebPlayer.js"; }
    fs::path manifest() const { return course() / "imsmanifest.xml"; }
    std::string Write() {
        WriteScormManifest(run->files, manifest().string(),
                           ManifestFromRecord(run->record, run->settings, run->installation));
        Commit();
        return ReadBytes(manifest());
    }
    static std::string Data(const char* name) { return ReadBytes(kWriterData / name); }
};

TEST_F(ScormManifestTest, WithoutOldManifest) {
    EXPECT_EQ(Write(), Data("expected-manifest-no-old.xml"));
    // An IMS metadata title needs a langstring; this one has none.
    const LintResult lint = ValidateManifest(manifest());
    EXPECT_EQ(lint.status, 3) << lint.output;
    EXPECT_NE(lint.output.find("Element '{http://www.imsglobal.org/xsd/imsmd_rootv1p2p1}title': Missing child "
                               "element(s). Expected is ( {http://www.imsglobal.org/xsd/imsmd_rootv1p2p1}langstring )"),
              std::string::npos)
        << lint.output;

    // Regenerated, it stays the same: the bare opening tags are not carried over.
    EXPECT_EQ(Write(), Data("expected-manifest-no-old.xml"));
    EXPECT_EQ(ValidateManifest(manifest()).status, 3);
    EXPECT_EQ(run->report.updatedList, "");
}

TEST_F(ScormManifestTest, OldManifestWithCrLfAndEmptyLinesRegeneratesIdentically) {
    fs::copy_file(kWriterData / "manifest-crlf-empty-lines.xml", manifest());
    fs::permissions(manifest(), fs::perms::owner_read | fs::perms::group_read);
    EXPECT_EQ(Write(), Data("expected-manifest-from-crlf.xml"));
    EXPECT_EQ(fs::status(manifest()).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const LintResult lint = ValidateManifest(manifest());
    EXPECT_EQ(lint.status, 0) << lint.output;
    EXPECT_NE(lint.output.find("validates"), std::string::npos);

    EXPECT_EQ(Write(), Data("expected-manifest-from-crlf.xml"));
    StartRun();
    run->record = {"fire101", "NB-FIRE-101", "", "", "English", "", ""};
    EXPECT_EQ(Write(), Data("expected-manifest-from-crlf.xml"));
}

TEST_F(ScormManifestTest, DateStampFromThePlayerScript) {
    SetModifiedDate(player(), 2025, 11, 28);
    std::string expected = Data("expected-manifest-no-old.xml");
    platform::ReplaceAllInPlace(expected, "03052026", "11282025");
    EXPECT_EQ(Write(), expected);

    fs::remove(player());
    expected = Data("expected-manifest-no-old.xml");
    platform::ReplaceAllInPlace(expected, "03052026", "00000000");
    EXPECT_EQ(Write(), expected);
}

TEST_F(ScormManifestTest, OptionsMasteryLanguageAndDescription) {
    const std::string oldDescription = "\t\t\t\t\t\t\t<![CDATA[<p>Learn the basics: 100% practical.</p>]]>";
    const std::string newDescription = "\t\t\t\t\t\t\t<![CDATA[<p>New <b>text</b> &amp; more</p>]]>";
    const struct {
        const char* name;
        int score;
        std::string language;
        bool fromInterface;
        bool fromHtml;
        std::string mastery;
        std::string code;
        std::string description;
    } rows[] = {
        {"no option keeps the old description", -1, "English", false, false, "0", "en", oldDescription},
        {"description from interface.xml", 80, "Espa\xC3\xB1ol", true, false, "80", "es", newDescription},
        {"description from the catalogue", 0, "PORTUGU\xC3\xAAS", false, true, "0", "po", newDescription},
        {"both options", 150, "German", true, true, "150", "en", newDescription},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fs::copy_file(kWriterData / "manifest-crlf-empty-lines.xml", manifest(), fs::copy_options::overwrite_existing);
        run->settings.posttestPassingScore = row.score;
        run->settings.updateDescriptionsInInterfaceXml = row.fromInterface;
        run->settings.updateDescriptionsFromHtml = row.fromHtml;
        run->record.Language = row.language;
        run->record.WebDescription = "&lt;p&gt;New &lt;b&gt;text&lt;/b&gt; &amp; more&lt;/p&gt;";
        std::string expected = Data("expected-manifest-from-crlf.xml");
        platform::ReplaceAllInPlace(expected, "<adlcp:masteryscore>0<", "<adlcp:masteryscore>" + row.mastery + "<");
        platform::ReplaceAllInPlace(expected, "<language>en<", "<language>" + row.code + "<");
        platform::ReplaceAllInPlace(expected, oldDescription, row.description);
        EXPECT_EQ(Write(), expected);
        const LintResult lint = ValidateManifest(manifest());
        EXPECT_EQ(lint.status, 0) << lint.output;
    }
}

TEST_F(ScormManifestTest, VodPackageTitlesFromTheRecord) {
    run->settings.createVodPackages = true;
    run->record.WebTitle = "Fire drill 100% video";
    std::string expected = Data("expected-manifest-no-old.xml");
    platform::ReplaceAllInPlace(expected, "\">\n\n\t\t<item",
                                "\">\n\t\t\t<title>Fire drill 100% video</title>\n\t\t<item");
    platform::ReplaceAllInPlace(
        expected, "\">\n\n\t\t\t<adlcp:", "\">\n\t\t\t<title>Fire drill 100% video</title>\n\t\t\t<adlcp:");
    platform::ReplaceAllInPlace(expected, "<title>\n\n",
                                "<title>\n\t\t\t\t\t\t<langstring>Fire drill 100% video</langstring>\n");
    EXPECT_EQ(Write(), expected);
    const LintResult lint = ValidateManifest(manifest());
    EXPECT_EQ(lint.status, 0) << lint.output;

    // A package made again takes its title from the record, not from the old file.
    fs::copy_file(kWriterData / "manifest-crlf-empty-lines.xml", manifest(), fs::copy_options::overwrite_existing);
    run->settings.updateDescriptionsFromHtml = true;
    run->record.WebDescription = "";
    platform::ReplaceAllInPlace(expected, "\t\t\t\t\t\t<langstring>\n\n",
                                "\t\t\t\t\t\t<langstring>\n\t\t\t\t\t\t\t<![CDATA[]]>\n");
    EXPECT_EQ(Write(), expected);
    EXPECT_EQ(ValidateManifest(manifest()).status, 0);

    // Titles go in as they are given, ampersands included.
    run->record.WebTitle = "50% & more";
    EXPECT_NE(Write().find("\t\t\t<title>50% & more</title>\n"), std::string::npos);
    EXPECT_EQ(ValidateManifest(manifest()).status, 1);
}

TEST_F(ScormManifestTest, FindFirstLineContainingReadsTheFile) {
    fs::copy_file(kWriterData / "manifest-crlf-empty-lines.xml", manifest());
    EXPECT_EQ(FindFirstLineContaining(manifest().string(), "<langstring>"),
              "\t\t\t\t\t\t<langstring>Fire safety at work</langstring>");
    EXPECT_EQ(FindFirstLineContaining(manifest().string(), "<?xml"), "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>");
    EXPECT_EQ(FindFirstLineContaining(manifest().string(), "absent"), "");
    EXPECT_EQ(FindFirstLineContaining(coursePath("missing.xml"), "<"), "");
}

TEST_F(ScormManifestTest, UnwritableManifestIsNoted) {
    fs::remove_all(course());
    WriteScormManifest(run->files, manifest().string(),
                       ManifestFromRecord(run->record, run->settings, run->installation));
    Commit();
    EXPECT_FALSE(fs::exists(course()));
    EXPECT_NE(run->report.updatedList.find(manifest().string()), std::string::npos) << run->report.updatedList;
}

// A new player date changes the item and resource identifiers, unless the
// bundle keeps the ones it has (as an LMS tracks the course by them); both
// formats, either way round.
TEST_F(ScormManifestTest, KeptIdentifiersOutliveANewPlayerDate) {
    const auto write = [&](bool scorm2004) {
        const ManifestInputs inputs = ManifestFromRecord(run->record, run->settings, run->installation);
        if (scorm2004) {
            WriteScorm2004Manifest(run->files, manifest().string(), inputs, ExitStatusMode::ScormConformant);
        } else {
            WriteScormManifest(run->files, manifest().string(), inputs);
        }
        Commit();
        const std::optional<PackageFileFacts> facts = ReadPackageFile(ReadBytes(manifest()));
        EXPECT_TRUE(facts.has_value());
        return facts ? facts->identifiers : PackageIdentifiers{};
    };
    const struct {
        bool scorm2004Before, scorm2004After, keep;
        std::string item, resource;
    } rows[] = {
        {false, false, false, "fire101_11282025", "DORVANE11282025"},
        {false, false, true, "fire101_03052026", "DORVANE03052026"},
        {true, true, true, "fire101_03052026", "DORVANE03052026"},
        {false, true, true, "fire101_03052026", "DORVANE03052026"},
        {true, false, false, "fire101_11282025", "DORVANE11282025"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.scorm2004Before) + std::to_string(row.scorm2004After) +
                     std::to_string(row.keep));
        fs::remove(manifest());
        SetModifiedDate(player(), 2026, 3, 5);
        StartRun();
        run->record = {"fire101", "NB-FIRE-101", "", "", "English", "", ""};
        std::ignore = write(row.scorm2004Before);
        SetModifiedDate(player(), 2025, 11, 28);
        StartRun();
        run->record = {"fire101", "NB-FIRE-101", "", "", "English", "", ""};
        run->settings.keepIdentifiers = row.keep;
        const PackageIdentifiers ids = write(row.scorm2004After);
        EXPECT_EQ(ids.items, std::vector<std::string>{row.item});
        EXPECT_EQ(ids.resources, std::vector<std::string>{row.resource});
        // The item still refers to its resource.
        EXPECT_NE(ReadBytes(manifest()).find("identifierref=\"" + row.resource + "\""), std::string::npos);
    }
    // Kept as text, whatever they hold.
    run->settings.keepIdentifiers = true;
    WriteBytes(manifest(),
               "<manifest><organizations><organization><item identifier=\"a&amp;b\"/></organization>"
               "</organizations><resources><resource identifier='x\"y'/></resources></manifest>");
    EXPECT_EQ(write(false).resources, std::vector<std::string>{"x\"y"});
    EXPECT_EQ(write(true).items, std::vector<std::string>{"a&b"});
}
