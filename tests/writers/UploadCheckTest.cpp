#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Text.h"
#include "writers/UploadCheck.h"

namespace {

// A package an LMS takes: every href names a file, identifiers are xs:IDs.
std::string Manifest(const std::string& item = "fire101_item", const std::string& href = "fire101.htm",
                     const std::string& resource = "fire101_res") {
    return "<manifest identifier=\"fire101\"><organizations default=\"fire101_org\">"
           "<organization identifier=\"fire101_org\"><item identifier=\"" +
           item + "\" identifierref=\"" + resource +
           "\"/></organization></organizations><resources>"
           "<resource identifier=\"" +
           resource + "\" href=\"" + href +
           "\" xml:base=\"\"><file href=\"fire101.htm\"/><file href=\"xml/interface.xml\"/></resource></resources>"
           "</manifest>";
}

PackageToCheck GoodPackage() {
    PackageToCheck package;
    package.names = {"imsmanifest.xml", "fire101.htm", "xml/interface.xml"};
    package.manifest = Manifest();
    package.bytes = 5u << 20;
    package.sizeLimitMB = 500;
    return package;
}

}  // namespace

TEST(UploadCheckTest, EachRuleNamesWhatBreaksThePackageAndNothingElse) {
    EXPECT_TRUE(CheckPackage(GoodPackage()).empty());
    using S = UploadFinding::Severity;
    const struct {
        const char* what;
        void (*breakIt)(PackageToCheck&);
        S severity;
        const char* rule;
        const char* detailHas;
    } rows[] = {
        {"not XML", [](PackageToCheck& p) { p.manifest = "<manifest"; }, S::problem, "schema", "not well-formed"},
        {"href in another case", [](PackageToCheck& p) { p.manifest = Manifest("fire101_item", "Fire101.htm"); },
         S::problem, "missing file",
         "'Fire101.htm' names no file of the package ('fire101.htm' differs from it in letter case)"},
        {"file href", [](PackageToCheck& p) { p.names.back() = "xml/Interface.xml"; }, S::problem, "missing file",
         "file href 'xml/interface.xml'"},
        {"xAPI launch",
         [](PackageToCheck& p) {
             p.manifest.reset();
             p.activities =
                 "<tincan><activities><activity id=\"http://x/fire101\"><launch>index.html</launch>"
                 "</activity></activities></tincan>";
         },
         S::problem, "missing file", "tincan.xml's launch 'index.html'"},
        {"digit first", [](PackageToCheck& p) { p.manifest = Manifest("101fire_item"); }, S::problem, "identifier",
         "identifier '101fire_item' is not a valid xs:ID: it starts with a digit"},
        {"not unique", [](PackageToCheck& p) { p.manifest = Manifest("fire101_res"); }, S::problem, "identifier",
         "identifier 'fire101_res' is not unique"},
        {"absolute", [](PackageToCheck& p) { p.manifest = Manifest("fire101_item", "/fire101.htm"); }, S::problem,
         "href", "absolute path"},
        {"drive", [](PackageToCheck& p) { p.manifest = Manifest("fire101_item", "C:fire101.htm"); }, S::problem, "href",
         "absolute path"},
        {"backslash", [](PackageToCheck& p) { p.manifest = Manifest("fire101_item", "xml\\interface.xml"); },
         S::problem, "href", "backslash"},
        {"dot dot", [](PackageToCheck& p) { p.manifest = Manifest("fire101_item", "xml/../fire101.htm"); }, S::problem,
         "href", "'..'"},
        {"unsafe entry", [](PackageToCheck& p) { p.names.push_back("media\\a.jpg"); }, S::problem, "name",
         "elsewhere on Windows"},
        {"space", [](PackageToCheck& p) { p.names.push_back("my media/ab.jpg"); }, S::warning, "name",
         "'my media' holds a space"},
        {"tilde", [](PackageToCheck& p) { p.names.push_back("a~1.jpg"); }, S::warning, "name", "'~'"},
        {"non-ASCII", [](PackageToCheck& p) { p.names.push_back("caf\xC3\xA9.jpg"); }, S::warning, "name",
         "outside ASCII"},
        {"case only", [](PackageToCheck& p) { p.names.push_back("XML/interface.xml"); }, S::warning, "name",
         "differ only in letter case"},
        {"size", [](PackageToCheck& p) { p.bytes = (500u << 20) + 1; }, S::warning, "size",
         "500.1 MB, over the upload size limit of 500 MB"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        PackageToCheck package = GoodPackage();
        row.breakIt(package);
        const std::vector<UploadFinding> findings = CheckPackage(package);
        ASSERT_EQ(findings.size(), 1u);
        EXPECT_EQ(findings[0].severity, row.severity);
        EXPECT_EQ(findings[0].rule, row.rule);
        EXPECT_NE(findings[0].detail.find(row.detailHas), std::string::npos) << findings[0].detail;
    }
}

TEST(UploadCheckTest, IdentifierChangesAreNamedOnceWithOldAndNewValues) {
    PackageIdentifiers before{{"fire101"}, {"fire101_org"}, {"fire101_11282025"}, {"DORVANE11282025"}, {}};
    PackageIdentifiers now = before;
    EXPECT_TRUE(CompareIdentifiers({{before, "the file it replaces"}}, now).empty());
    now.items = {"fire101_03052026"};
    now.resources.clear();
    const std::vector<UploadFinding> findings =
        CompareIdentifiers({{before, "the file it replaces"}, {before, "the upload package it replaces"}}, now);
    ASSERT_EQ(findings.size(), 2u);
    EXPECT_EQ(findings[0].severity, UploadFinding::Severity::warning);
    EXPECT_EQ(UploadFindingLine("fire101.zip", findings[0]),
              "'fire101.zip' warning, identifier change: the item identifier changes from 'fire101_11282025' to "
              "'fire101_03052026' (against the file it replaces); the LMS will take the upload as a new course, and "
              "learner records will not carry over.\n");
    EXPECT_NE(findings[1].detail.find("the resource identifier 'DORVANE11282025' is gone"), std::string::npos);
}
