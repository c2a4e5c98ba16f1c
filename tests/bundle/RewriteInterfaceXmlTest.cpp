#include "bundle/RewriteInterfaceXml.h"
#include "bundle/SettingsFile.h"
#include "catalogues/DescriptionLookup.h"
#include "support/RunState.h"
#include "support/TestSupport.h"

namespace {

// A complete settings file as authoring tools write it: UTF-8 mark, CR LF.
const std::string kFullFile =
    "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<xmlFile>\r\n"
    "\t<Attributes>\r\n"
    "\t\t<CrsVersion>9.1.0_01_01_2020</CrsVersion>\r\n"
    "\t\t<Title>Fire Safety</Title>\r\n"
    "\t\t<Description>Fire & Safety 100%</Description>\r\n"
    "\t\t<WebDescription></WebDescription>\r\n"
    "\t\t<WebTitle>Fire Safety  </WebTitle>\r\n"
    "\t\t<ProductCode>FS-100</ProductCode>\r\n"
    "\t\t<Subtitle>Module 2</Subtitle>\r\n"
    "\t\t<Language>French</Language>\r\n"
    "\t\t<isHRS>true</isHRS>\r\n"
    "\t\t<Producer>R&D</Producer>\r\n"
    "\t</Attributes>\r\n"
    "\t<ActiveFeatures>\r\n"
    "\t\t<ScreenSize>normal</ScreenSize>\r\n"
    "\t\t<EnableVideoSkip>no</EnableVideoSkip>\r\n"
    "\t\t<ShowNavBar>no</ShowNavBar>\r\n"
    "\t\t<Accessibility>no</Accessibility>\r\n"
    "\t\t<EnableReverse>yes</EnableReverse>\r\n"
    "\t\t<CertificatePrinting>no</CertificatePrinting>\r\n"
    "\t\t<TimeOut>30</TimeOut>\r\n"
    "\t\t<RecordPartialData>yes</RecordPartialData>\r\n"
    "\t\t<SkipCongratsScreen>no</SkipCongratsScreen>\r\n"
    "\t</ActiveFeatures>\r\n"
    "\t<ExamSettings>\r\n"
    "\t\t<PretestQuestions>5</PretestQuestions>\r\n"
    "\t\t<PosttestQuestions>10</PosttestQuestions>\r\n"
    "\t\t<PretestPassingScore>70</PretestPassingScore>\r\n"
    "\t\t<PosttestPassingScore>80</PosttestPassingScore>\r\n"
    "\t\t<PosttestRetakeCount>2</PosttestRetakeCount>\r\n"
    "\t\t<AssessmentScore></AssessmentScore>\r\n"
    "\t\t<AssessmentAutoSkip>no</AssessmentAutoSkip>\r\n"
    "\t</ExamSettings>\r\n"
    "</xmlFile>\r\n";

// A file that lacks most elements, so that the missing ones are inserted.
const std::string kSparseFile =
    "<?xml version=\"1.0\"?>\n"
    "<xmlFile>\n"
    "\t<Attributes>\n"
    "\t\t<CrsVersion></CrsVersion>\n"
    "\t\t<WebDescription>Intro &hellip; &ldquo;quoted&rdquo; <b>x</b></WebDescription>\n"
    "\t\t<WebTitle>   </WebTitle>\n"
    "\t</Attributes>\n"
    "\t<ActiveFeatures>\n"
    "\t\t<EnableVideoSkip>yes</EnableVideoSkip>\n"
    "\t</ActiveFeatures>\n"
    "\t<ExamSettings>\n"
    "\t\t<PretestQuestions>5</PretestQuestions>\n"
    "\t\t<PretestPassingScore>70</PretestPassingScore>\n"
    "\t\t<PosttestPassingScore></PosttestPassingScore>\n"
    "\t\t<AssessmentScore>1</AssessmentScore>\n"
    "\t</ExamSettings>\n"
    "</xmlFile>\n";

CourseSettings PretestSettings() {
    CourseSettings s = DefaultOkSettings();
    s.pretestQuestionCount = 5;
    s.posttestQuestionCount = 10;
    s.pretestPassingScore = 70;
    s.posttestRetakeCount = 3;
    s.assessmentAutoSkip = false;
    s.allowVideoSkip = true;
    s.showNavBar = true;
    s.certificatePrinting = true;
    s.courseTimeout = 45;
    s.isHr = true;
    s.fullScreenAtStartup = "full screen";
    s.skipCongratsScreen = true;
    s.keepDetailedBookmarking = true;
    return s;
}

CourseSettings AssessmentSettings() {
    CourseSettings s = DefaultOkSettings();
    s.testMode = TestMode::Assessment;
    s.pretestQuestionCount = 5;
    s.posttestPassingScore = 75;
    s.posttestRetakeCount = 2;
    s.assessmentAutoSkip = true;
    s.enableHrSetting = true;
    s.fullScreenAtStartup = "normal";
    return s;
}

class RewriteInterfaceXmlTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        install = MakeInstall(dir());
        WriteBytes(install.installFolder / "web" / "quarvel.exe", "exe");
        SetModifiedDate(install.installFolder / "web" / "quarvel.exe", 2024, 3, 15);
        run = std::make_unique<RunState>(install.installFolder.generic_string());
    }
    // The lookup keeps its catalogue open; Windows lets the folder go only once it is closed.
    void TearDown() override {
        descriptions = DescriptionLookup();
        TempDirTest::TearDown();
    }
    // Reads and rewrites `bytes` as the settings file of `courseID` with the
    // run's options and record; returns what the file would then hold.
    std::string Rewrite(const std::string& courseID, const std::string& bytes) {
        const SettingsLines read = ReadSettingsLines(bytes);
        EXPECT_TRUE(read.isUtf8);
        std::function<std::optional<std::string>(const std::string&)> find;
        if (!descriptions.Entries().empty()) {
            find = [this](const std::string& key) { return descriptions.FindCourseDescription(key); };
        }
        const RewriteInputs inputs{run->settings, courseID, run->installation.ProgramDate(), find};
        return RewriteInterfaceXml(read.header.value_or(""), read.lines, inputs, run->record).value_or(bytes);
    }

    TestInstall install;
    std::unique_ptr<RunState> run;
    DescriptionLookup descriptions;
};

auto Fields(const CourseRecord& r) {
    return std::tie(r.courseID, r.ProductCode, r.WebTitle, r.Subtitle, r.Language, r.Description, r.WebDescription);
}

// A record holding what an earlier bundle left, to see what each rewrite keeps.
CourseRecord OlderRecord() {
    return CourseRecord{"older", "OLD-1", "Older title", "Older part", "Dutch", "Older text", "Older web text"};
}

TEST_F(RewriteInterfaceXmlTest, PretestModeRewritesEveryRuleOfACompleteFile) {
    run->settings = PretestSettings();
    EXPECT_EQ(Rewrite("fire_101", kFullFile),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
              "<xmlFile>\n"
              "\t<Attributes>\n"
              "\t<CrsVersion>10.7.0_03_15_2024</CrsVersion>\n"
              "\t\t<Title>Fire Safety</Title>\n"
              "\t\t<Description>Fire and Safety 100%</Description>\n"
              "\t<WebDescription>Fire and Safety 100%</WebDescription>\n"
              "\t\t<WebTitle>Fire Safety  </WebTitle>\n"
              "\t\t<ProductCode>FS-100</ProductCode>\n"
              "\t\t<Subtitle>Module 2</Subtitle>\n"
              "\t\t<Language>French</Language>\n"
              "\t\t<isHRS>true</isHRS>\n"
              "\t\t<Producer>R&D</Producer>\n"
              "\t</Attributes>\n"
              "\t<ActiveFeatures>\n"
              "\t<ScreenSize>full screen</ScreenSize>\n"
              "\t<EnableVideoSkip>yes</EnableVideoSkip>\n"
              "\t<ShowNavBar>yes</ShowNavBar>\n"
              "\t<Accessibility>no</Accessibility>\n"
              "\t<EnableReverse>no</EnableReverse>\n"
              "\t<CertificatePrinting>yes</CertificatePrinting>\n"
              "\t<TimeOut>45</TimeOut>\n"
              "\t<RecordPartialData>no</RecordPartialData>\n"
              "\t<SkipCongratsScreen>yes</SkipCongratsScreen>\n"
              "\t</ActiveFeatures>\n"
              "\t<ExamSettings>\n"
              "\t<PretestQuestions>5</PretestQuestions>\n"
              "\t<PosttestQuestions>10</PosttestQuestions>\n"
              "\t<PretestPassingScore>70</PretestPassingScore>\n"
              "\t<PosttestPassingScore></PosttestPassingScore>\n"
              "\t<PosttestRetakeCount>0</PosttestRetakeCount>\n"
              "\t<AssessmentScore></AssessmentScore>\n"
              "\t<AssessmentAutoSkip>no</AssessmentAutoSkip>\n"
              "\t</ExamSettings>\n"
              "</xmlFile>\n");
    const CourseRecord& r = run->record;
    EXPECT_EQ(r.Description, "Fire and Safety 100%");
    EXPECT_EQ(r.WebDescription, "Fire and Safety 100%");
    EXPECT_EQ(r.WebTitle, "Fire Safety");
    EXPECT_EQ(r.ProductCode, "FS-100");
    EXPECT_EQ(r.Subtitle, "Module 2");
    EXPECT_EQ(r.Language, "French");
}

TEST_F(RewriteInterfaceXmlTest, AssessmentModeInsertsMissingElementsBeforeTheClosingLines) {
    run->settings = AssessmentSettings();
    EXPECT_EQ(Rewrite("hrs_fin_101", kSparseFile),
              "<?xml version=\"1.0\"?>\n"
              "<xmlFile>\n"
              "\t<Attributes>\n"
              "\t<CrsVersion>10.7.0_03_15_2024</CrsVersion>\n"
              "\t<WebDescription>Intro &#x2026; &#x201c;quoted&#x201d; <b>x</b></WebDescription>\n"
              "\t<WebTitle>hrs_fin_101</WebTitle>\n"
              "\t\t<isHRS>false</isHRS>\n"
              "\t<ProductCode>hrs_fin_101</ProductCode>\n"
              "\t</Attributes>\n"
              "\t<ActiveFeatures>\n"
              "\t<EnableVideoSkip>no</EnableVideoSkip>\n"
              "\t<ScreenSize>normal</ScreenSize>\n"
              "\t<ShowNavBar>no</ShowNavBar>\n"
              "\t<Accessibility>no</Accessibility>\n"
              "\t<SkipCongratsScreen>no</SkipCongratsScreen>\n"
              "\t</ActiveFeatures>\n"
              "\t<ExamSettings>\n"
              "\t<PretestQuestions>0</PretestQuestions>\n"
              "\t<PretestPassingScore></PretestPassingScore>\n"
              "\t<PosttestPassingScore>75</PosttestPassingScore>\n"
              "\t<AssessmentScore>-1</AssessmentScore>\n"
              "\t<PosttestRetakeCount>2</PosttestRetakeCount>\n"
              "\t</ExamSettings>\n"
              "</xmlFile>\n");
    EXPECT_EQ(run->record.WebTitle, "hrs_fin_101");
    EXPECT_EQ(run->record.ProductCode, "hrs_fin_101");
    EXPECT_EQ(run->record.Language, "English");
}

TEST_F(RewriteInterfaceXmlTest, IsHrsAndProductCodeInsertionFollowTheSettingsAndTheBundleKind) {
    const std::string file = "<x>\n\t<Attributes>\n\t\t<isHRS>true</isHRS>\n\t</Attributes>\n";
    struct Case {
        const char* name;
        bool enableHrSetting;
        bool isHr;
        std::string courseID;
        std::string expected;
    };
    const Case cases[] = {
        {"kept when the setting is off", false, true, "abc",
         "<x>\n\t<Attributes>\n\t\t<isHRS>true</isHRS>\n\t<ProductCode>abc</ProductCode>\n\t</Attributes>\n"},
        {"replaced when on", true, false, "abc",
         "<x>\n\t<Attributes>\n\t\t<isHRS>false</isHRS>\n\t<ProductCode>abc</ProductCode>\n\t</Attributes>\n"},
        {"VOD gets no product code", true, true, "abc_vid_01",
         "<x>\n\t<Attributes>\n\t\t<isHRS>true</isHRS>\n\t</Attributes>\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        run->settings = DefaultOkSettings();
        run->settings.enableHrSetting = c.enableHrSetting;
        run->settings.isHr = c.isHr;
        run->record.ProductCode = "older";
        EXPECT_EQ(Rewrite(c.courseID, file), c.expected);
        EXPECT_EQ(run->record.ProductCode, c.courseID == "abc" ? "abc" : "older");
    }
}

TEST_F(RewriteInterfaceXmlTest, RecordFieldsThatAreNotClearedCarryOverToTheNextBundle) {
    run->settings = DefaultOkSettings();
    Rewrite("first", kFullFile);
    const std::string second =
        "<x>\n\t<Title>T</Title>\n\t<WebDescription></WebDescription>\n\t<Language>German</Language>\n";
    EXPECT_EQ(Rewrite("second", second),
              "<x>\n\t<Title>T</Title>\n\t<WebDescription>Fire and Safety 100%</WebDescription>\n"
              "\t<Language>German</Language>\n");
    const CourseRecord& r = run->record;
    EXPECT_EQ(r.ProductCode, "FS-100");
    EXPECT_EQ(r.Subtitle, "Module 2");
    EXPECT_EQ(r.Description, "Fire and Safety 100%");
    EXPECT_EQ(r.WebDescription, "Fire and Safety 100%");
    EXPECT_EQ(r.WebTitle, "");
    EXPECT_EQ(r.Language, "German");

    // The cleared ones start afresh.
    Rewrite("third", "<x>\n\t<Language>Dutch\n");
    EXPECT_EQ(r.Language, "");
    Rewrite("fourth", "<x>\n");
    EXPECT_EQ(r.Language, "English");
    EXPECT_EQ(r.WebDescription, "");
}

TEST_F(RewriteInterfaceXmlTest, TheFirstMatchingRuleDecidesAndOtherTagsAreCopied) {
    run->settings = DefaultOkSettings();
    run->record.Language = "x";
    EXPECT_EQ(Rewrite("abc",
                      "<h>\n"
                      "\t<Title>a</Title><Language>French</Language>\n"
                      "\t<webtitle>lower</webtitle>\n"
                      "\t<TimeOut>1</TimeOut><ShowNavBar>yes</ShowNavBar>\n"
                      "\t<Text>100% & more</Text>\n"),
              "<h>\n"
              "\t<Title>a</Title><Language>French</Language>\n"
              "\t<webtitle>lower</webtitle>\n"
              "\t<ShowNavBar>no</ShowNavBar>\n"
              "\t<Text>100% & more</Text>\n");
    EXPECT_EQ(run->record.Language, "English");
}

TEST_F(RewriteInterfaceXmlTest, DescriptionsComeFromTheCatalogueWhenAsked) {
    WriteBytes(install.installFolder / "HTML course descriptions.txt",
               "ABC_INT_01\t<p>Catalogue &hellip;</p>\nabc_int_01\t<p>hidden</p>\n");
    run->settings = DefaultOkSettings();
    run->settings.updateDescriptionsFromHtml = true;
    descriptions.LoadDescriptionCatalogue(install.installFolder.generic_string());
    const std::string file = "<h>\n\t<Description>A <i>&</i> B</Description>\n\t<WebDescription></WebDescription>\n";
    const std::pair<std::string, std::string> cases[] = {
        {"abc_adl_01", "\t<WebDescription>&lt;p&gt;Catalogue &#x2026;&lt;/p&gt;</WebDescription>\n"},
        {"other", "\t<WebDescription>A &lt;i&gt;and&lt;/i&gt; B</WebDescription>\n"},
    };
    for (const auto& [courseID, line] : cases) {
        SCOPED_TRACE(courseID);
        EXPECT_EQ(Rewrite(courseID, file), "<h>\n\t<Description>A <i>and</i> B</Description>\n" + line);
    }
    // An empty catalogue still escapes the course's own description.
    WriteBytes(install.installFolder / "HTML course descriptions.txt", "");
    descriptions.LoadDescriptionCatalogue(install.installFolder.generic_string());
    EXPECT_EQ(Rewrite("abc_adl_01", "<h>\n\t<WebDescription><b>own</b></WebDescription>\n"),
              "<h>\n\t<WebDescription>&lt;b&gt;own&lt;/b&gt;</WebDescription>\n");
}

TEST_F(RewriteInterfaceXmlTest, TheVersionDateIsTheDateOfThePlayerProgram) {
    run->settings = DefaultOkSettings();
    const fs::path exe = install.installFolder / "web" / "quarvel.exe";
    SetModifiedDate(exe, 2025, 11, 3);
    EXPECT_EQ(Rewrite("abc", "<h>\n  <CrsVersion>old</CrsVersion>\n"),
              "<h>\n\t<CrsVersion>10.7.0_11_03_2025</CrsVersion>\n");
    // Without the program the course keeps the version it has.
    fs::remove(exe);
    EXPECT_EQ(Rewrite("abc", "<h>\n  <CrsVersion>old</CrsVersion>\n"), "<h>\n  <CrsVersion>old</CrsVersion>\n");
}

TEST_F(RewriteInterfaceXmlTest, AFileWithoutTextIsLeftAsItIs) {
    run->settings = DefaultOkSettings();
    run->record.WebTitle = "older";
    EXPECT_EQ(Rewrite("abc", ""), "");
    EXPECT_EQ(Rewrite("abc", "\r\n\r\n"), "\r\n\r\n");
    EXPECT_EQ(run->record.WebTitle, "");
    EXPECT_EQ(run->record.Language, "English");
    EXPECT_TRUE(run->report.updatedList.empty());
}

TEST_F(RewriteInterfaceXmlTest, TheStreamedRewriteWritesTheBytesOfTheInMemoryOne) {
    run->settings = PretestSettings();
    const std::string longText(3 << 20, 'x');  // longer than the buffer a file is read with
    struct Case {
        const char* name;
        std::string bytes;
        SettingsFileOutcome outcome;
    };
    const Case cases[] = {
        {"complete file, byte-order mark and CR LF", kFullFile, SettingsFileOutcome::rewritten},
        {"sparse file, LF", kSparseFile, SettingsFileOutcome::rewritten},
        {"lone CRs and empty lines", "\n<h>\r\r\n\n\t<TimeOut>1</TimeOut>\rjunk\n\r\n\t<Language>Fr</Language>\r\n",
         SettingsFileOutcome::rewritten},
        {"no line end at the end", "<h>\n\t<WebTitle>T</WebTitle>", SettingsFileOutcome::rewritten},
        {"lines longer than any buffer",
         "<h>\r\n\t<Description>" + longText +
             " & more</Description>\r\n\t<WebDescription></WebDescription>\r\n\t<Text>" + longText + "</Text>",
         SettingsFileOutcome::rewritten},
        {"UTF-16", "\xFF\xFE" + Utf16LeBytes("<h>\r\n"), SettingsFileOutcome::notUtf8},
        {"invalid UTF-8 far into the file", "<h>\n" + longText + "\n\t<Text>caf\xE9</Text>\n",
         SettingsFileOutcome::notUtf8},
        {"only line ends", "\r\n\n", SettingsFileOutcome::withoutText},
    };
    const fs::path file = dir() / "course" / "xml" / "interface.xml";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RewriteInputs inputs{run->settings, "course", run->installation.ProgramDate(), {}};
        const SettingsLines read = ReadSettingsLines(c.bytes);
        CourseRecord inMemory = OlderRecord();
        std::string expected = c.bytes;
        if (read.isUtf8)
            expected = RewriteInterfaceXml(read.header.value_or(""), read.lines, inputs, inMemory).value_or(c.bytes);

        // In pieces of a few bytes.
        if (c.outcome == SettingsFileOutcome::rewritten) {
            CourseRecord inPieces = OlderRecord();
            std::string written;
            const auto append = [&written](std::string_view bytes) {
                written += bytes;
                return std::error_code();
            };
            EXPECT_FALSE(RewriteInterfaceXmlFrom(ReadFrom(c.bytes), inputs, inPieces, append, 7));
            EXPECT_TRUE(written == expected);
            EXPECT_EQ(Fields(inPieces), Fields(inMemory));
        }

        // In place, from the file.
        WriteBytes(file, c.bytes);
        std::error_code ec;
        const platform::ReadableFile opened = run->files.Open(file.generic_string(), ec);
        ASSERT_TRUE(opened) << ec.message();
        CourseRecord streamed = OlderRecord();
        EXPECT_EQ(RewriteSettingsFile(run->files, file.generic_string(), ReadFrom(opened), inputs, streamed),
                  c.outcome);
        run->files.Commit();
        EXPECT_TRUE(ReadBytes(file) == expected);
        EXPECT_EQ(Fields(streamed), Fields(inMemory));
    }
    EXPECT_EQ(run->report.updatedList, "");
}

TEST_F(RewriteInterfaceXmlTest, AFileThatCannotBeWrittenStillFillsTheRecord) {
    run->settings = PretestSettings();
    const fs::path file = dir() / "course" / "xml" / "interface.xml";
    WriteBytes(file, kFullFile);
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::remove);
    const RewriteInputs inputs{run->settings, "course", std::nullopt, {}};
    const SettingsLines read = ReadSettingsLines(kFullFile);
    CourseRecord expected = OlderRecord();
    ASSERT_TRUE(RewriteInterfaceXml(*read.header, read.lines, inputs, expected));

    std::error_code ec;
    const platform::ReadableFile opened = run->files.Open(file.generic_string(), ec);
    CourseRecord record = OlderRecord();
    EXPECT_EQ(RewriteSettingsFile(run->files, file.generic_string(), ReadFrom(opened), inputs, record),
              SettingsFileOutcome::notWritten);
    EXPECT_EQ(Fields(record), Fields(expected));
    EXPECT_EQ(ReadBytes(file), kFullFile);
    EXPECT_EQ(run->report.updatedList, "Could not write '" + file.string() + "': Permission denied.\n");
}

TEST_F(RewriteInterfaceXmlTest, AReadOnlyFileStaysAndIsNoted) {
    run->settings = DefaultOkSettings();
    const fs::path file = dir() / "course" / "xml" / "interface.xml";
    WriteBytes(file, "<h>\r\n\t<TimeOut>1</TimeOut>\r\n");
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::remove);
    const RewriteInputs inputs{run->settings, "course", std::nullopt, {}};
    const auto rewritten = RewriteInterfaceXml("<h>", {"\t<TimeOut>1</TimeOut>"}, inputs, run->record);
    ASSERT_TRUE(rewritten);
    EXPECT_FALSE(run->files.Write(file.string(), *rewritten));
    EXPECT_EQ(ReadBytes(file), "<h>\r\n\t<TimeOut>1</TimeOut>\r\n");
    EXPECT_EQ(run->report.updatedList, "Could not write '" + file.string() + "': Permission denied.\n");
}

}  // namespace
