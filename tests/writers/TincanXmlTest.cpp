#include "WriterFixture.h"
#include "XmlLint.h"
#include "writers/TincanXml.h"

TEST(EscapeXapiDescriptionTest, Rows) {
    const struct {
        const char* name;
        std::string in;
        std::string out;
    } rows[] = {
        {"punctuation", "Tom's (2020) notes, tips & tricks", "Tom&#39;s &#40;2020&#41; notes&#44; tips &amp; tricks"},
        {"double quote", "say \"hi\"", "say &quot;hi&quot;"},
        {"references escaped again", "&amp; &hellip;", "&amp;amp; &amp;hellip;"},
        {"angle brackets after the ampersands", "<b>&lt;</b>", "&lt;b&gt;&amp;lt;&lt;/b&gt;"},
        {"quotes and dashes taken byte by byte",
         "\xC3\xA2\xC2\x80\xC2\x9Cq\xC3\xA2\xC2\x80\xC2\x9D \xC3\xA2\xC2\x80\xC2\x93 \xC3\xA2\xC2\x80\xC2\x94",
         "&#x201c;q&#x201d; &#8211; &#x2014;"},
        {"proper typographic characters stay", "\xE2\x80\x9Cq\xE2\x80\x9D \xE2\x80\x93",
         "\xE2\x80\x9Cq\xE2\x80\x9D \xE2\x80\x93"},
        {"single-byte quotes taken as characters", "\xC2\x93q\xC2\x94", "&#34;q&#34;"},
        {"empty", "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(EscapeXapiDescription(row.in), row.out);
    }
}

class TincanXmlTest : public WriterTest {
protected:
    static std::string Expected(const std::string& id, const std::string& name, const std::string& description) {
        return "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n"
               "<tincan xmlns=\"http://projecttincan.com/tincan.xsd\">\n"
               "\t<activities>\n"
               "\t\t<activity id=\"" +
               id +
               "\"\n"
               "\t\t\ttype=\"http://adlnet.gov/expapi/activities/course\">\n"
               "\t\t<name lang=\"en-US\">" +
               name +
               "</name>\n"
               "\t\t<description lang=\"en-US\">" +
               description +
               "</description>\n"
               "\t\t\t<launch lang=\"en-US\">index.html</launch>\n"
               "\t\t</activity>\n"
               "\t</activities>\n"
               "</tincan>\n";
    }
};

TEST_F(TincanXmlTest, ActivityFileValidates) {
    run->record.WebTitle = "Fire safety 100%";
    run->record.WebDescription = "Tom's (2020) <b>notes</b> & tips";
    run->record.WebDescription = WriteTincanXml(run->files, run->installation, coursePath("tincan.xml"),
                                                run->record.courseID, run->record.WebTitle, run->record.WebDescription);
    Commit();
    EXPECT_EQ(ReadBytes(course() / "tincan.xml"),
              Expected("http://elearning.example.com/fire101/xapi/course", "Fire safety 100%",
                       "Tom&#39;s &#40;2020&#41; &lt;b&gt;notes&lt;/b&gt; &amp; tips"));
    EXPECT_EQ(run->record.WebDescription, "Tom&#39;s &#40;2020&#41; &lt;b&gt;notes&lt;/b&gt; &amp; tips");
    const LintResult lint = ValidateTincan(course() / "tincan.xml");
    EXPECT_EQ(lint.status, 0) << lint.output;
}

TEST_F(TincanXmlTest, TitleGoesInUnescaped) {
    // The title is written as the course gives it; an ampersand in it leaves
    // the file malformed, which the validation shows.
    run->record.WebTitle = "Fire & <safety>";
    run->record.WebDescription = WriteTincanXml(run->files, run->installation, coursePath("tincan.xml"),
                                                run->record.courseID, run->record.WebTitle, run->record.WebDescription);
    Commit();
    EXPECT_EQ(ReadBytes(course() / "tincan.xml"),
              Expected("http://elearning.example.com/fire101/xapi/course", "Fire & <safety>", ""));
    EXPECT_EQ(ValidateTincan(course() / "tincan.xml").status, 1);
}

TEST_F(TincanXmlTest, TheInstallationsHostNamesEveryActivity) {
    run = std::make_unique<RunState>(install.installFolder.generic_string(), "lms.acme.test");
    for (const char* courseID : {"fire101", "gas202"}) {
        run->record.courseID = courseID;
        run->record.WebDescription =
            WriteTincanXml(run->files, run->installation, coursePath(courseID + std::string(".xml")),
                           run->record.courseID, run->record.WebTitle, run->record.WebDescription);
    }
    Commit();
    EXPECT_EQ(ReadBytes(course() / "fire101.xml"), Expected("http://lms.acme.test/fire101/xapi/course", "", ""));
    EXPECT_EQ(ReadBytes(course() / "gas202.xml"), Expected("http://lms.acme.test/gas202/xapi/course", "", ""));
}

TEST_F(TincanXmlTest, EveryDescriptionLineEscapesTheRecordAgain) {
    WriteBytes(web() / "html" / "tincan.xml",
               "<description lang=\"x\">first line</description>\n"
               "<description lang=\"de\">one</description>\n"
               "\n"
               "<activity id=\"x\"> <description lang=\"fr\">\n"
               "<description lang=\"it\">two</description>\n");
    run->record.WebDescription = "A & B";
    run->record.WebDescription = WriteTincanXml(run->files, run->installation, coursePath("tincan.xml"),
                                                run->record.courseID, run->record.WebTitle, run->record.WebDescription);
    Commit();
    EXPECT_EQ(ReadBytes(course() / "tincan.xml"),
              "<description lang=\"x\">first line</description>\n"
              "\t\t<description lang=\"en-US\">A &amp; B</description>\n"
              "\n"
              "\t\t<activity id=\"http://elearning.example.com/fire101/xapi/course\"\n"
              "\t\t<description lang=\"en-US\">A &amp;amp; B</description>\n");
    EXPECT_EQ(run->record.WebDescription, "A &amp;amp; B");
}

TEST_F(TincanXmlTest, MissingTemplateLeavesFileAndRecord) {
    fs::remove(web() / "html" / "tincan.xml");
    WriteBytes(course() / "tincan.xml", "old");
    run->record.WebDescription = "A & B";
    run->record.WebDescription = WriteTincanXml(run->files, run->installation, coursePath("tincan.xml"),
                                                run->record.courseID, run->record.WebTitle, run->record.WebDescription);
    Commit();
    EXPECT_EQ(ReadBytes(course() / "tincan.xml"), "old");
    EXPECT_EQ(run->record.WebDescription, "A & B");
}
