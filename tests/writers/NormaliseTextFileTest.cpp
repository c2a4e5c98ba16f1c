#include "platform/FileSystem.h"
#include "support/TestSupport.h"
#include "writers/NormaliseTextFile.h"

TEST(NormaliseBytesTest, ByteRules) {
    const struct {
        const char* name;
        std::string in;
        std::string out;
    } rows[] = {
        {"crlf lines", "a\r\nb\r\n", "a\nb\n"},
        {"lone cr", "a\rb", "ab"},
        {"bom", "\xEF\xBB\xBFx\r\n", "x\n"},
        {"bom only", "\xEF\xBB\xBF", ""},
        {"ef without bom", "\xEF\x80\x80z", "z"},
        {"one byte ef", "\xEF", ""},
        {"two bytes ef", "\xEF\xBB", ""},
        {"one byte", "A", "A"},
        {"one cr", "\r", ""},
        {"empty", "", ""},
        {"bom later", "x\xEF\xBB\xBF", "x\xEF\xBB\xBF"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(NormaliseBytes(row.in), row.out);
    }
    EXPECT_EQ(FinishedTextBytes("\xEF\x80\x80 header\r\nline\n"), "\xEF\x80\x80 header\nline\n");
}

class NormaliseTextFileTest : public TempDirTest {
protected:
    RunReport report;
    BundleFiles files{report};
};

TEST_F(NormaliseTextFileTest, RewritesInPlaceAndRemovesTheTemporaryName) {
    WriteBytes(dir() / "imsmanifest.xml", "\xEF\xBB\xBF<a>\r\n50%\r\n");
    WriteBytes(dir() / "imsmanifest.xml_temp", "someone's file");
    NormaliseTextFile(files, path("imsmanifest.xml"));
    files.Commit();
    EXPECT_EQ(report.updatedList, "");
    EXPECT_EQ(ReadBytes(dir() / "imsmanifest.xml"), "<a>\n50%\n");
    EXPECT_FALSE(fs::exists(dir() / "imsmanifest.xml_temp"));
}

TEST_F(NormaliseTextFileTest, MissingFileIsNotCreatedAndReadOnlyFileIsLeft) {
    NormaliseTextFile(files, path("question.xml"));
    EXPECT_FALSE(fs::exists(dir() / "question.xml"));
    EXPECT_EQ(report.updatedList, "");
    WriteBytes(dir() / "ro.xml", "a\r\n");
    fs::permissions(dir() / "ro.xml", fs::perms::owner_read);
    NormaliseTextFile(files, path("ro.xml"));
    EXPECT_EQ(ReadBytes(dir() / "ro.xml"), "a\r\n");
    EXPECT_EQ(report.updatedList,
              "Could not write '" + platform::DisplayPath(path("ro.xml")) + "': Permission denied.\n");
}
