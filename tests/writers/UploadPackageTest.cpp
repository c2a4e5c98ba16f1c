#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "writers/UploadPackage.h"

namespace {

const fs::path kReferenceZip = fs::path(QUARVEL_TEST_DATA) / "writers" / "upload-reference.zip";

// The small course the reference archive was made from; names listed out of order on purpose.
const std::array<std::pair<const char*, const char*>, 5> kCourse = {{
    {"xml/interface.xml", "<xmlFile>\n\t<Attributes>\n\t</Attributes>\n</xmlFile>\n"},
    {"imsmanifest.xml", "<?xml version=\"1.0\"?>\n<manifest identifier=\"MANIFEST-1\"/>\n"},
    {"scripts/communication.js", "function LMS_SetLessonStatus(s) { return s; }\n"},
    {"media/caf\xC3\xA9 menu.txt", "espresso\nespresso\nespresso\nespresso\n"},
    {"empty.txt", ""},
}};

class UploadPackageTest : public TempDirTest {
protected:
    fs::path course() const { return dir() / "course"; }
    std::vector<UploadEntry> WriteCourse() const {
        std::vector<UploadEntry> entries;
        for (const auto& [name, bytes] : kCourse) {
            WriteBytes(course() / name, bytes);
            entries.push_back({name, (course() / name).string()});
        }
        return entries;
    }
    std::string Build(const std::vector<UploadEntry>& entries) const {
        UploadProblem problem;
        const std::optional<std::string> bytes = BuildUploadPackage(entries, problem);
        EXPECT_TRUE(bytes.has_value()) << problem.path << ": " << problem.reason;
        return bytes.value_or(std::string());
    }
};

}  // namespace

// The reference was checked once with zipinfo: entries sorted, Deflate, dated
// 1980-01-01 00:00, -rw-r--r-- from Unix, the UTF-8 flag on the non-ASCII name,
// no extra fields; unzip -t accepts it.
TEST_F(UploadPackageTest, ArchiveMatchesTheReferenceBytes) {
    const std::string archive = Build(WriteCourse());
    EXPECT_EQ(archive, ReadBytes(kReferenceZip));
}

TEST_F(UploadPackageTest, SameBytesWhateverTheTimeStampsPermissionsAndOwner) {
    const std::vector<UploadEntry> entries = WriteCourse();
    const std::string first = Build(entries);
    const mode_t oldMask = ::umask(0077);
    for (const UploadEntry& entry : entries) {
        // Rewritten under another umask, with other times, bits and (as root) owner.
        const std::string bytes = ReadBytes(entry.path);
        fs::remove(entry.path);
        WriteBytes(entry.path, bytes);
        fs::last_write_time(entry.path, fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
        fs::permissions(entry.path, fs::perms::owner_read);
        if (::geteuid() == 0) {
            EXPECT_EQ(::chown(entry.path.c_str(), 65534, 65534), 0);
        }
    }
    ::umask(oldMask);
    EXPECT_EQ(Build(entries), first);
    // The order the caller lists the files in does not matter either.
    EXPECT_EQ(Build({entries.rbegin(), entries.rend()}), first);
}

TEST_F(UploadPackageTest, RefusesWhatCannotBePackedFaithfully) {
    const std::vector<UploadEntry> good = WriteCourse();
    WriteBytes(dir() / "fifo-stand-in", "x");
    ASSERT_EQ(::mkfifo((dir() / "fifo").c_str(), 0644), 0);
    struct Row {
        const char* what;
        std::vector<UploadEntry> extra;
        std::string faultyPath;
        std::string reasonHas;
    };
    const Row rows[] = {
        {"missing file", {{"gone.txt", path("gone.txt")}}, path("gone.txt"), "No such file"},
        {"a FIFO", {{"fifo", path("fifo")}}, path("fifo"), "regular"},
        {"name not UTF-8", {{"bad\xFFname", path("fifo-stand-in")}}, path("fifo-stand-in"), "UTF-8"},
        {"same name twice", {{"empty.txt", path("fifo-stand-in")}}, "", "two files"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<UploadEntry> entries = good;
        entries.insert(entries.end(), row.extra.begin(), row.extra.end());
        UploadProblem problem;
        EXPECT_FALSE(BuildUploadPackage(entries, problem).has_value());
        if (!row.faultyPath.empty()) {
            EXPECT_EQ(problem.path, row.faultyPath);
        }
        EXPECT_NE(problem.reason.find(row.reasonHas), std::string::npos) << problem.reason;
    }
    UploadProblem problem;
    EXPECT_FALSE(BuildUploadPackage({}, problem).has_value());
}

TEST_F(UploadPackageTest, CourseFilesLeaveOutTemporariesTheCourseBmpNestedBundlesAndOutsideLinks) {
    WriteCourse();
    WriteBytes(course() / "media/fire101.BMP", "bmp");
    WriteBytes(course() / "media/other.bmp", "bmp");
    WriteBytes(course() / "imsmanifest.xml_temp", "half");
    WriteBytes(course() / "notes_temp", "a file of its own");
    WriteBytes(course() / "nested/xml/interface.xml", "nested bundle");
    WriteBytes(dir() / "outside/secret.txt", "secret");
    fs::create_symlink(dir() / "outside/secret.txt", course() / "secret-link.txt");
    fs::create_symlink(dir() / "outside", course() / "outside-folder");
    fs::create_symlink(course() / "media", course() / "media-again");  // a second way into one folder
    fs::create_symlink(course(), course() / "media/loop");

    UploadRules rules;
    rules.allowedRoots = {course().string()};
    rules.leftOutFileName = "fire101.bmp";
    rules.leftOutFolders = {(course() / "nested").string()};
    const CourseFiles files = CollectCourseFiles(course().string(), rules);

    std::set<std::string> names;
    for (const UploadEntry& entry : files.entries) {
        names.insert(entry.name);
        EXPECT_EQ(entry.path, (course() / entry.name).string());
    }
    const std::set<std::string> expected = {"empty.txt",        "imsmanifest.xml", "media/caf\xC3\xA9 menu.txt",
                                            "media/other.bmp",  "notes_temp",      "scripts/communication.js",
                                            "xml/interface.xml"};
    // media-again and media are one folder: its files come once, under whichever name is listed first.
    std::set<std::string> got = names;
    if (got.erase("media-again/caf\xC3\xA9 menu.txt") == 1) got.insert("media/caf\xC3\xA9 menu.txt");
    if (got.erase("media-again/other.bmp") == 1) got.insert("media/other.bmp");
    EXPECT_EQ(got, expected);
    ASSERT_EQ(files.notes.size(), 2u);
    for (const std::string& note : files.notes) {
        EXPECT_NE(note.find("left out of the upload package.\n"), std::string::npos) << note;
    }
}

TEST(UploadPackageNameTest, PathBelowTheStartingFolderOrTheFolderItself) {
    const struct {
        const char* course;
        const char* base;
        const char* name;
    } rows[] = {
        {"/c/courses/fire101", "/c/courses", "fire101"},
        {"/c/courses/safety/fire101", "/c/courses", "safety/fire101"},
        {"/c/courses/safety/fire101", "/c/courses/", "safety/fire101"},
        {"/c/courses", "/c/courses", "courses"},
        {"/c/coursesX/fire101", "/c/courses", "fire101"},
        {"/inst/vod packages/abc_vid_01", "/inst", "vod packages/abc_vid_01"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.course);
        EXPECT_EQ(UploadPackageName(row.course, row.base), row.name);
    }
}

TEST_F(UploadPackageTest, WritesEachPackageBelowTheUploadFolderAndNamesItInTheReport) {
    WriteCourse();
    const fs::path upload = dir() / "install" / "upload packages";
    WriteBytes(upload / "dept/course.zip", "an old package");
    RunReport report;
    UploadOptions options{upload.string(), {dir().string()}, false};
    WriteUploadPackages({{course().string(), "dept/course", "course"}, {path("missing"), "missing", "missing"}},
                        options, report);
    EXPECT_EQ(ReadBytes(upload / "dept/course.zip"), ReadBytes(kReferenceZip));
    // The missing course: its folder could not be listed, and it got no package.
    EXPECT_EQ(report.problemNotes, 2);
    EXPECT_EQ(report.updatedList.substr(0, report.updatedList.find('\n') + 1),
              "Upload package written: '" + (upload / "dept/course.zip").string() + "'\n");
    EXPECT_NE(report.updatedList.find("No upload package was written for '" + path("missing") + "'"), std::string::npos)
        << report.updatedList;
    EXPECT_FALSE(fs::exists(upload / "missing.zip"));
}

TEST_F(UploadPackageTest, InstallFolderReachedThroughALinkAndNamesThatDifferOnlyInCase) {
    WriteCourse();
    fs::create_directories(dir() / "real-install");
    fs::create_symlink(dir() / "real-install", dir() / "install-link");
    const fs::path upload = dir() / "install-link" / "upload packages";
    RunReport report;
    WriteUploadPackages({{course().string(), "Course", "course"}, {course().string(), "COURSE", "course"}},
                        {upload.string(), {dir().string()}, false}, report);
    EXPECT_EQ(ReadBytes(dir() / "real-install/upload packages/Course.zip"), ReadBytes(kReferenceZip));
    EXPECT_FALSE(fs::exists(dir() / "real-install/upload packages/COURSE.zip"));
    EXPECT_EQ(report.problemNotes, 1) << report.updatedList;
    EXPECT_NE(report.updatedList.find("its name differs only in letter case"), std::string::npos) << report.updatedList;
}

// Streamed into the staged file, the archive is the one built in memory,
// also where a file is larger than any piece libzip reads or writes at once.
TEST_F(UploadPackageTest, StreamedPackageEqualsTheOneBuiltInMemory) {
    std::vector<UploadEntry> entries = WriteCourse();
    std::string big(3u << 20, '\0');
    unsigned state = 12345;
    for (char& c : big) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
    WriteBytes(course() / "media/video.mp4", big);
    entries.push_back({"media/video.mp4", (course() / "media/video.mp4").string()});
    const std::string inMemory = Build(entries);

    const fs::path upload = dir() / "install" / "upload packages";
    fs::create_directories(dir() / "install");
    RunReport report;
    WriteUploadPackages({{course().string(), "course", "course"}}, {upload.string(), {dir().string()}, false}, report);
    EXPECT_TRUE(ReadBytes(upload / "course.zip") == inMemory) << report.updatedList;
}

// A name an unzip on Windows would put elsewhere refuses the package, naming the file.
TEST_F(UploadPackageTest, NameThatWindowsWouldUnpackElsewhereRefusesThePackage) {
    WriteCourse();
    WriteBytes(course() / "media\\..\\..\\evil.js", "x");
    const fs::path upload = dir() / "install" / "upload packages";
    fs::create_directories(dir() / "install");
    RunReport report;
    WriteUploadPackages({{course().string(), "course", "course"}}, {upload.string(), {dir().string()}, false}, report);
    EXPECT_FALSE(fs::exists(upload / "course.zip"));
    EXPECT_EQ(report.problemNotes, 1) << report.updatedList;
    EXPECT_NE(report.updatedList.find("an unzip on Windows would put it elsewhere: its name holds a backslash ('" +
                                      (course() / "media\\..\\..\\evil.js").string() + "')"),
              std::string::npos)
        << report.updatedList;
}

// Run as root over another user's course: what that user could not read
// stays out (named), and the package is theirs, no more readable than its files.
TEST_F(UploadPackageTest, AsRootTheOwnersAccessDecidesWhatIsPacked) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root";
    WriteCourse();
    WriteBytes(dir() / "private.txt", "root's own");
    ::chmod(path("private.txt").c_str(), 0600);
    fs::create_symlink(dir() / "private.txt", course() / "link-to-private.txt");
    WriteBytes(course() / "notes.txt", "the owner's private notes");
    ASSERT_EQ(std::system(("chown -R 65534:65534 '" + course().string() + "'").c_str()), 0);
    ::chmod((course() / "notes.txt").c_str(), 0600);
    const fs::path upload = dir() / "install" / "upload packages";
    fs::create_directories(dir() / "install");
    RunReport report;
    WriteUploadPackages({{course().string(), "course", "course"}}, {upload.string(), {dir().string()}, false}, report);
    EXPECT_EQ(report.problemNotes, 1) << report.updatedList;
    EXPECT_NE(report.updatedList.find("link-to-private.txt' cannot be read by the owner"), std::string::npos)
        << report.updatedList;
    struct stat st {};
    ASSERT_EQ(::stat((upload / "course.zip").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}
