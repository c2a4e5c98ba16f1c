#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <set>

#include "platform/Text.h"
#include "support/TestSupport.h"

namespace {

const fs::path kSample = fs::path(QUARVEL_SOURCE_DIR) / "sample";

// Runs over a copy of the sample installation (with the shipped schemas) and
// the sample courses, plus a second fire101 in a subfolder and a course BMP.
class UploadPackagesTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        fs::copy(kSample / "install", install(), fs::copy_options::recursive);
        fs::copy(fs::path(QUARVEL_SOURCE_DIR) / "res/schemas", install() / "schemas", fs::copy_options::recursive);
        fs::copy(kSample / "courses", courses(), fs::copy_options::recursive);
        fs::create_directories(courses() / "dept");
        fs::copy(kSample / "courses/fire101", courses() / "dept/fire101", fs::copy_options::recursive);
        WriteBytes(courses() / "intro101/intro101.bmp", "BM course image");
        WriteBytes(dir() / "quarvel.conf", "NB Path=" + install().string() + "\n");
    }
    fs::path install() const { return dir() / "install"; }
    fs::path courses() const { return dir() / "courses"; }
    fs::path uploads() const { return install() / "upload packages"; }

    // The batch program's exit status; `prefix` runs before it in the same shell.
    int Batch(const std::string& args, const std::string& prefix = "") const {
        const std::string command = prefix + "QUARVEL_CONFIG='" + path("quarvel.conf") + "' '" QUARVEL_BATCH "' " +
                                    args + " >'" + path("stdout.txt") + "' 2>'" + path("stderr.txt") + "'";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Log() const {
        return platform::ReplaceAll(Utf16LeToUtf8ForTest(ReadBytes(install() / "nb_logfile.txt")), "\r\n", "\n");
    }
    static std::string Utf16LeToUtf8ForTest(const std::string& bytes) {
        std::string text;  // the log's names here are ASCII
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) text += bytes[i];
        return text;
    }
    // Every zip below the upload folder, by its path below it, with its bytes.
    std::map<std::string, std::string> Zips() const {
        std::map<std::string, std::string> zips;
        if (!fs::exists(uploads())) return zips;
        for (const auto& entry : fs::recursive_directory_iterator(uploads())) {
            if (entry.is_regular_file()) zips[fs::relative(entry.path(), uploads()).string()] = ReadBytes(entry.path());
        }
        return zips;
    }
    static int Shell(const std::string& command) {
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Listing(const std::string& zip) const {
        const std::string out = path("listing.txt");
        EXPECT_EQ(Shell("unzip -Z1 '" + (uploads() / zip).string() + "' >'" + out + "'"), 0) << zip;
        return ReadBytes(out);
    }
};

}  // namespace

TEST_F(UploadPackagesTest, MainJobZipsEveryBundleAndNamesTheManifestThatFailsItsSchema) {
    EXPECT_EQ(Batch("zipPackages=true validatePackages=true deleteBmp=true '" + courses().string() + "'"), 3)
        << ReadBytes(path("stderr.txt"));
    const std::set<std::string> expected = {"abc_adl_01.zip", "dept/fire101.zip", "fire101.zip",      "hrs_fin_101.zip",
                                            "intro101.zip",   "safety201.zip",    "safety__part2.zip"};
    std::set<std::string> written;
    for (const auto& [name, bytes] : Zips()) written.insert(name);
    EXPECT_EQ(written, expected);

    const std::string log = Log();
    for (const std::string& zip : expected) {
        SCOPED_TRACE(zip);
        EXPECT_EQ(Shell("unzip -tq '" + (uploads() / zip).string() + "' >/dev/null"), 0);
        EXPECT_NE(log.find("Upload package written: '" + (uploads() / zip).string() + "'\n"), std::string::npos);
        // The manifest at the root, and the bundle's own files with it.
        const std::string listing = Listing(zip);
        EXPECT_NE(listing.find("\nimsmanifest.xml\n"), std::string::npos) << listing;
        EXPECT_NE(listing.find("\nxml/interface.xml\n"), std::string::npos) << listing;
    }
    EXPECT_NE(log.find("'" + (courses() / "hrs_fin_101/imsmanifest.xml").string() +
                       "' does not pass the schema check, line 33: Element "
                       "'{http://www.imsglobal.org/xsd/imsmd_rootv1p2p1}title': Missing child element(s)."),
              std::string::npos)
        << log;
    // The schema files the manifest names and what they import, at the root;
    // the course's own ims_xml.xsd (from the template folder) wins over the installation's.
    const std::string listing = "\n" + Listing("fire101.zip");
    for (const char* schema : {"imscp_rootv1p1p2.xsd", "imsmd_rootv1p2p1.xsd", "adlcp_rootv1p2.xsd", "ims_xml.xsd"}) {
        EXPECT_NE(listing.find(std::string("\n") + schema + "\n"), std::string::npos) << schema << "\n" << listing;
    }
    ASSERT_EQ(Shell("unzip -p '" + (uploads() / "fire101.zip").string() + "' ims_xml.xsd >'" + path("ims.xsd") + "'"),
              0);
    EXPECT_EQ(ReadBytes(path("ims.xsd")), ReadBytes(courses() / "fire101/ims_xml.xsd"));
    // The course BMP the run deleted is in no package, even where it could not be deleted.
    EXPECT_EQ(Listing("intro101.zip").find(".bmp"), std::string::npos);
    EXPECT_NE(ReadBytes(path("stderr.txt")).find("7 bundles patched, 1 with problems"), std::string::npos)
        << ReadBytes(path("stderr.txt"));
}

TEST_F(UploadPackagesTest, AnUnchangedCourseGivesTheSameZipWhateverTheTimeStampsUmaskAndOwner) {
    const std::string args = "zipPackages=true packageType=Xapi '" + courses().string() + "'";
    ASSERT_EQ(Batch(args), 0) << ReadBytes(path("stderr.txt"));
    const std::map<std::string, std::string> first = Zips();
    ASSERT_EQ(first.size(), 7u);

    // Every file of the courses touched (the template folder's dates are part
    // of the content: they date the course version); as root, handed to another owner.
    const std::string owner = ::geteuid() == 0 ? " && chown -R 65534:65534 '" + courses().string() + "'" : "";
    ASSERT_EQ(Shell("find '" + courses().string() + "' -exec touch -d '2031-05-06 07:08' {} +" + owner), 0);
    fs::remove_all(uploads());
    ASSERT_EQ(Batch(args, "umask 077; "), 0) << ReadBytes(path("stderr.txt"));
    const std::map<std::string, std::string> second = Zips();
    ASSERT_EQ(second.size(), first.size());
    for (const auto& [name, bytes] : first) {
        EXPECT_TRUE(second.at(name) == bytes) << name << " differs";
    }
}

TEST_F(UploadPackagesTest, VodPackagesAreZippedBelowTheirOwnFolderName) {
    ASSERT_EQ(
        Batch("createVodPackages=true zipPackages=true validatePackages=true '" + (kSample / "videos").string() + "'"),
        0)
        << ReadBytes(path("stderr.txt")) << Log();
    std::set<std::string> written;
    for (const auto& [name, bytes] : Zips()) written.insert(name);
    EXPECT_EQ(written, (std::set<std::string>{"vod packages/fire_vid_01_en.zip", "vod packages/hrs_vid_03_sp.zip",
                                              "vod packages/intro_vid_04.zip", "vod packages/safety_vid_02_en.zip"}));
    for (const std::string& zip : written) {
        SCOPED_TRACE(zip);
        EXPECT_EQ(Shell("unzip -tq '" + (uploads() / zip).string() + "' >/dev/null"), 0);
        EXPECT_NE(Listing(zip).find("imsmanifest.xml\n"), std::string::npos);
    }
}

TEST_F(UploadPackagesTest, WithoutTheOptionsNothingIsZippedOrChecked) {
    EXPECT_EQ(Batch("'" + courses().string() + "'"), 0) << ReadBytes(path("stderr.txt"));
    EXPECT_FALSE(fs::exists(uploads()));
    EXPECT_EQ(Log().find("schema"), std::string::npos);
    EXPECT_EQ(Log().find("Upload package"), std::string::npos);
}

TEST_F(UploadPackagesTest, MissingSchemasAreNotedOnceAndCountAsAProblem) {
    fs::remove_all(install() / "schemas");
    EXPECT_EQ(Batch("validatePackages=true packageType=Xapi '" + courses().string() + "'"), 3);
    const std::string log = Log();
    const std::string note = "/schemas/xapi/tincan.xsd' are missing or unreadable";
    ASSERT_NE(log.find(note), std::string::npos) << log;
    EXPECT_EQ(log.find(note, log.find(note) + 1), std::string::npos) << log;
}

// What an LMS would refuse, and what would lose learner records, named by
// package in the check's part of the log; keepIdentifiers keeps them across a
// template refresh.
TEST_F(UploadPackagesTest, TheCheckNamesBrokenPackagesAndIdentifiersATemplateDateChanges) {
    fs::copy(courses() / "fire101", courses() / "101fire", fs::copy_options::recursive);
    WriteBytes(courses() / "fire101/Fire101.htm", "a page the run finds in any letter case");
    const fs::path player = install() / "web/scripts/NimbrelWebPlayer.js";
    const auto runOn = [&](const char* date, const std::string& extra) {
        EXPECT_EQ(Shell("touch -d '" + std::string(date) + " 12:00' '" + player.string() + "'"), 0);
        fs::remove(install() / "nb_logfile.txt");
        Batch("zipPackages=true validatePackages=true " + extra + "'" + courses().string() + "'");
        const std::string log = Log();
        return log.substr(log.find("Upload check:\n"));
    };
    std::string check = runOn("2025-11-28", "");
    EXPECT_NE(check.find("'101fire.zip' problem, identifier: identifier '101fire_org' is not a valid xs:ID: it starts "
                         "with a digit.\n"),
              std::string::npos)
        << check;
    EXPECT_NE(check.find("'fire101.zip' problem, missing file: the manifest's href 'fire101.htm' names no file of "
                         "the package ('Fire101.htm' differs from it in letter case).\n"),
              std::string::npos)
        << check;

    check = runOn("2026-03-05", "");
    EXPECT_NE(check.find("'dept/fire101.zip' warning, identifier change: the item identifier changes from "
                         "'fire101_11282025' to 'fire101_03052026' (against the file it replaces); the LMS will take "
                         "the upload as a new course, and learner records will not carry over.\n"),
              std::string::npos)
        << check;
    // Named once, though the earlier zip had the same identifier.
    EXPECT_EQ(check.find("'dept/fire101.zip' warning, identifier change: the item identifier changes",
                         check.find("'dept/fire101.zip' warning, identifier change: the item") + 1),
              std::string::npos);

    check = runOn("2026-04-07", "keepIdentifiers=true ");
    EXPECT_EQ(check.find("identifier change"), std::string::npos) << check;
}
