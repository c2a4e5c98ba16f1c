// Upload packages and the schema check on Windows: libzip and zlib give the
// bytes they give on Linux, and libxml2 finds the schemas by drive-letter
// paths, also below a folder whose name needs escaping in a URI.
#include "platform/Text.h"
#include "support/TestSupport.h"
#include "writers/UploadPackage.h"

namespace {

const fs::path kSource(QUARVEL_SOURCE_DIR);

// A path in UTF-8, as the program spells it.
std::string Utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

class UploadCheckTest : public TempDirTest {
protected:
    // A space and a non-ASCII letter, as users' folders have.
    fs::path install() const { return dir() / fs::u8path("my install \xC3\xA9"); }
    std::string Log() const {
        return platform::ReplaceAll(Utf16LeToUtf8(ReadBytes(install() / "nb_logfile.txt")), "\r\n", "\n");
    }
    static std::string Utf16LeToUtf8(const std::string& bytes) {
        std::string text;  // the names here are ASCII but for the install folder's, which the lines below skip
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) text += bytes[i + 1] == 0 ? bytes[i] : '?';
        return text;
    }
};

TEST_F(UploadCheckTest, TheSampleIsZippedAndCheckedAgainstTheInstalledSchemas) {
    fs::copy(kSource / "sample/install", install(), fs::copy_options::recursive);
    fs::copy(kSource / "res/schemas", install() / "schemas", fs::copy_options::recursive);
    fs::copy(kSource / "sample/courses", dir() / "courses", fs::copy_options::recursive);
    WriteBytes(dir() / "quarvel.conf", "NB Path=" + Utf8(install()) + "\n");
    FakeUser user;
    user.settings = DefaultOkSettings();
    user.settings->zipPackages = true;
    user.settings->validatePackages = true;
    user.folder = path("courses");
    const platform::FixedClock clock{TestTime()};
    QuarvelRun run(user, clock, InstallStore(path("quarvel.conf")));
    ASSERT_EQ(run.RunSelectedJob(), RunOutcome::Ran);

    const std::string log = Log();
    EXPECT_EQ(log.find("are missing or unreadable"), std::string::npos) << log;
    // The sample's one manifest that its schema refuses, as on Linux.
    const std::string refused =
        "\\courses\\hrs_fin_101\\imsmanifest.xml' does not pass the schema check, line 33: "
        "Element '{http://www.imsglobal.org/xsd/imsmd_rootv1p2p1}title': Missing child "
        "element(s). Expected is ( {http://www.imsglobal.org/xsd/imsmd_rootv1p2p1}langstring ).";
    EXPECT_NE(log.find(refused), std::string::npos) << log;
    for (const char* course : {"abc_adl_01", "fire101", "hrs_fin_101", "intro101", "safety201", "safety__part2"}) {
        SCOPED_TRACE(course);
        EXPECT_TRUE(fs::is_regular_file(install() / "upload packages" / (std::string(course) + ".zip")));
        EXPECT_NE(log.find("\\upload packages\\" + std::string(course) + ".zip'"), std::string::npos);
    }
}

// The archive the Linux build checks against, from the same small course.
TEST_F(UploadCheckTest, AnArchiveHasTheBytesItHasOnLinux) {
    const std::pair<const char*, const char*> course[] = {
        {"xml/interface.xml", "<xmlFile>\n\t<Attributes>\n\t</Attributes>\n</xmlFile>\n"},
        {"imsmanifest.xml", "<?xml version=\"1.0\"?>\n<manifest identifier=\"MANIFEST-1\"/>\n"},
        {"scripts/communication.js", "function LMS_SetLessonStatus(s) { return s; }\n"},
        {"media/caf\xC3\xA9 menu.txt", "espresso\nespresso\nespresso\nespresso\n"},
        {"empty.txt", ""},
    };
    std::vector<UploadEntry> entries;
    for (const auto& [name, bytes] : course) {
        const fs::path file = dir() / "course" / fs::u8path(name);
        WriteBytes(file, bytes);
        entries.push_back({name, Utf8(file)});
    }
    UploadProblem problem;
    const std::optional<std::string> archive = BuildUploadPackage(entries, problem);
    ASSERT_TRUE(archive) << problem.path << ": " << problem.reason;
    EXPECT_EQ(*archive, ReadBytes(fs::path(QUARVEL_TEST_DATA) / "writers/upload-reference.zip"));
}

}  // namespace
