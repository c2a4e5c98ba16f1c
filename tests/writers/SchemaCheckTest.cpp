#include <gtest/gtest.h>

#include <string>

#include "platform/Text.h"
#include "support/TestSupport.h"
#include "writers/SchemaCheck.h"

namespace {

const fs::path kWriters = fs::path(QUARVEL_TEST_DATA) / "writers";
const fs::path kShippedSchemas = fs::path(QUARVEL_SOURCE_DIR) / "res" / "schemas";

const std::string kTincan = ReadBytes(kWriters / "web/html/tincan.xml");
const std::string kManifest2004 = ReadBytes(kWriters / "expected-2004-manifest-from-crlf.xml");

class SchemaCheckTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        fs::create_directories(schemas());
        fs::copy(kShippedSchemas, schemas(), fs::copy_options::recursive);
    }
    // A space and a non-ASCII letter in the installation's path, as users' folders have.
    fs::path schemas() const { return dir() / "my install \xC3\xA9" / "schemas"; }
};

}  // namespace

TEST_F(SchemaCheckTest, GivesTheFirstErrorOfEachFileOrValid) {
    using O = SchemaVerdict::Outcome;
    const struct Row {
        const char* what;
        PackageFile file;
        std::string bytes;
        O outcome;
        int line;
        const char* messageHas;
    } rows[] = {
        {"manifest carried over from an old one", PackageFile::ScormManifest,
         ReadBytes(kWriters / "expected-manifest-from-crlf.xml"), O::Valid, 0, ""},
        {"manifest without an old one: empty metadata title", PackageFile::ScormManifest,
         ReadBytes(kWriters / "expected-manifest-no-old.xml"), O::Invalid, 33,
         "Element '{http://www.imsglobal.org/xsd/imsmd_rootv1p2p1}title': Missing child element(s)"},
        {"manifest element unknown to content packaging", PackageFile::ScormManifest,
         ReadBytes(kWriters / "manifest-crlf-empty-lines.xml"), O::Invalid, 18, "lom': This element is not expected"},
        {"not well-formed", PackageFile::ScormManifest, "<?xml version=\"1.0\"?>\n<manifest>\n<title>\n</manifest>\n",
         O::Invalid, 4, "mismatch"},
        {"activity file", PackageFile::TincanXml, kTincan, O::Valid, 0, ""},
        {"activity without its description", PackageFile::TincanXml,
         platform::ReplaceAll(kTincan, "\t\t\t<description lang=\"en-US\">Course description</description>\n", ""),
         O::Invalid, 7, "launch': This element is not expected. Expected is one of"},
        {"a manifest where the activity file belongs", PackageFile::TincanXml,
         ReadBytes(kWriters / "expected-manifest-from-crlf.xml"), O::Invalid, 11, "No matching global declaration"},
        {"SCORM 2004 manifest with LOM metadata and a pass mark", PackageFile::Scorm2004Manifest, kManifest2004,
         O::Valid, 0, ""},
        {"SCORM 2004 manifest written without an old one", PackageFile::Scorm2004Manifest,
         ReadBytes(kWriters / "expected-2004-manifest-no-old.xml"), O::Valid, 0, ""},
        {"SCORM 2004 resource type in capitals", PackageFile::Scorm2004Manifest,
         platform::ReplaceAll(kManifest2004, "scormType=\"sco\"", "scormType=\"SCO\""), O::Invalid, 30,
         "scormType': [facet 'enumeration'] The value 'SCO' is not an element of the set {'sco', 'asset'}"},
        {"SCORM 2004 pass mark above one", PackageFile::Scorm2004Manifest,
         platform::ReplaceAll(kManifest2004, ">0.8<", ">1.5<"), O::Invalid, 22, "minNormalizedMeasure"},
        {"SCORM 2004 objective in the wrong place", PackageFile::Scorm2004Manifest,
         platform::ReplaceAll(kManifest2004, "imsss:primaryObjective", "imsss:objective"), O::Invalid, 21, "objective"},
        {"SCORM 1.2 manifest against the 2004 schemas", PackageFile::Scorm2004Manifest,
         ReadBytes(kWriters / "expected-manifest-from-crlf.xml"), O::Invalid, 11, "No matching global declaration"},
        {"SCORM 2004 manifest against the 1.2 schemas", PackageFile::ScormManifest, kManifest2004, O::Invalid, 9,
         "No matching global declaration"},
    };
    SchemaCheck check(schemas().string());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const SchemaVerdict verdict = check.Check(row.file, row.bytes);
        EXPECT_EQ(verdict.outcome, row.outcome) << verdict.message;
        EXPECT_EQ(verdict.line, row.line);
        EXPECT_NE(verdict.message.find(row.messageHas), std::string::npos) << verdict.message;
        // One line for the log.
        EXPECT_EQ(verdict.message.find('\n'), std::string::npos);
        if (!verdict.message.empty()) {
            EXPECT_NE(verdict.message.back(), '.');
        }
    }
}

TEST_F(SchemaCheckTest, MissingSchemasAreAnAnswerOfTheirOwn) {
    fs::remove(schemas() / "xapi/tincan.xsd");
    fs::remove(schemas() / "scorm12/imsmd_rootv1p2p1.xsd");      // imported by the wrapper
    fs::remove(schemas() / "scorm2004-4th/imsss_v1p0util.xsd");  // included by an imported schema
    SchemaCheck check(schemas().string());
    EXPECT_EQ(check.Check(PackageFile::Scorm2004Manifest, kManifest2004).outcome,
              SchemaVerdict::Outcome::SchemasMissing);
    EXPECT_EQ(check.Check(PackageFile::TincanXml, kTincan).outcome, SchemaVerdict::Outcome::SchemasMissing);
    EXPECT_EQ(check.Check(PackageFile::ScormManifest, ReadBytes(kWriters / "expected-manifest-from-crlf.xml")).outcome,
              SchemaVerdict::Outcome::SchemasMissing);
    SchemaCheck nowhere((dir() / "no such folder").string());
    EXPECT_EQ(nowhere.Check(PackageFile::TincanXml, kTincan).outcome, SchemaVerdict::Outcome::SchemasMissing);
}

TEST_F(SchemaCheckTest, SchemasAreParsedOnceForTheRun) {
    SchemaCheck check(schemas().string());
    const std::string manifest = ReadBytes(kWriters / "expected-manifest-no-old.xml");
    const SchemaVerdict first = check.Check(PackageFile::ScormManifest, manifest);
    fs::remove_all(schemas());
    const SchemaVerdict again = check.Check(PackageFile::ScormManifest, manifest);
    EXPECT_EQ(again.outcome, SchemaVerdict::Outcome::Invalid);
    EXPECT_EQ(again.line, first.line);
    EXPECT_EQ(again.message, first.message);
}

TEST_F(SchemaCheckTest, LoadsNothingFromOutsideTheSchemaFolder) {
    WriteBytes(dir() / "secret.txt", "top secret");
    // A schema that reaches out of its folder is not loaded (and so not used).
    WriteBytes(schemas() / "xapi/tincan.xsd",
               "<?xml version=\"1.0\"?>\n<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">\n"
               "<xs:include schemaLocation=\"../../secret.xsd\"/>\n</xs:schema>\n");
    WriteBytes(dir() / "secret.xsd", ReadBytes(kShippedSchemas / "xapi/tincan.xsd"));
    SchemaCheck check(schemas().string());
    EXPECT_EQ(check.Check(PackageFile::TincanXml, kTincan).outcome, SchemaVerdict::Outcome::SchemasMissing);

    // A document's external entity is neither loaded nor substituted.
    const std::string withEntity = "<?xml version=\"1.0\"?>\n<!DOCTYPE tincan [<!ENTITY s SYSTEM \"" +
                                   (dir() / "secret.txt").string() + "\">]>\n" +
                                   platform::ReplaceAll(kTincan.substr(kTincan.find("<tincan")), "Course title", "&s;");
    SchemaCheck shipped(kShippedSchemas.string());
    const SchemaVerdict verdict = shipped.Check(PackageFile::TincanXml, withEntity);
    EXPECT_EQ(verdict.message.find("top secret"), std::string::npos) << verdict.message;
}

TEST_F(SchemaCheckTest, SchemaFilesAManifestNamesWithWhatTheyLoad) {
    const auto names = [&](std::string_view manifest) {
        std::vector<std::string> found;
        for (const NamedSchemaFile& file : SchemaFilesNamedBy(manifest, schemas().string())) {
            fs::path expected = schemas() / "scorm2004-4th" / file.name;
            if (!fs::exists(expected)) expected = schemas() / "scorm12" / file.name;
            EXPECT_EQ(file.path, fs::exists(expected) ? expected.string() : "") << file.name;
            found.push_back(file.name);
        }
        return found;
    };
    using Names = std::vector<std::string>;
    // The three the manifest names, in its order, then what they include, import and load as DTDs.
    EXPECT_EQ(names(kManifest2004),
              (Names{"imscp_v1p1.xsd", "adlcp_v1p3.xsd", "imsss_v1p0.xsd", "xml.xsd", "imsss_v1p0seqrule.xsd",
                     "imsss_v1p0objective.xsd", "imsss_v1p0delivery.xsd", "imsss_v1p0random.xsd",
                     "imsss_v1p0rollup.xsd", "imsss_v1p0control.xsd", "imsss_v1p0limit.xsd",
                     "imsss_v1p0auxresource.xsd", "XMLSchema.dtd", "imsss_v1p0util.xsd", "datatypes.dtd"}));

    const struct {
        const char* what;
        std::string manifest;
        Names files;
    } rows[] = {
        {"SCORM 1.2: the three named, then the one both content packaging and metadata import",
         ReadBytes(kWriters / "expected-manifest-from-crlf.xml"),
         {"imscp_rootv1p1p2.xsd", "imsmd_rootv1p2p1.xsd", "adlcp_rootv1p2.xsd", "ims_xml.xsd"}},
        {"single quotes, spaces around '=', line ends between the pairs",
         "<m xsi:schemaLocation = '\n http://www.adlnet.org/xsd/adlnav_v1p3\tadlnav_v1p3.xsd\r\n'/>",
         {"adlnav_v1p3.xsd"}},
        {"a file the installation lacks",
         "<m schemaLocation=\"http://www.imsglobal.org/xsd/imsss imsss_v9.xsd\"/>",
         {"imsss_v9.xsd"}},
        {"no folders, addresses or unknown namespaces; a lone namespace ignored",
         "<m schemaLocation=\"http://www.imsglobal.org/xsd/imscp_v1p1 ../imscp_v1p1.xsd "
         "http://www.adlnet.org/xsd/adlcp_v1p3 http://example.com/adlcp_v1p3.xsd "
         "http://example.com/other adlseq_v1p3.xsd http://www.adlnet.org/xsd/adlseq_v1p3\"/>",
         {}},
        {"each file once",
         "<m schemaLocation=\"http://www.adlnet.org/xsd/adlseq_v1p3 adlseq_v1p3.xsd\"/>"
         "<n schemaLocation=\"http://www.adlnet.org/xsd/adlseq_v1p3 adlseq_v1p3.xsd\"/>",
         {"adlseq_v1p3.xsd"}},
        {"no schemaLocation", "<m/>", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(names(row.manifest), row.files);
    }

    // A schema's quoted names are followed only to files beside it.
    WriteBytes(schemas() / "scorm2004-4th/adlnav_v1p3.xsd",
               "<x a=\"../../secret.xsd\" b='missing.xsd' c=\"xml.xsd\"/>");
    EXPECT_EQ(names("<m schemaLocation=\"http://www.adlnet.org/xsd/adlnav_v1p3 adlnav_v1p3.xsd\"/>"),
              (Names{"adlnav_v1p3.xsd", "xml.xsd", "XMLSchema.dtd", "datatypes.dtd"}));
}
