// Special files, huge or binary inputs, and small oddities of course trees.
#include <sys/stat.h>

#include "HostileFixture.h"

namespace {

const std::string kSettings =
    "<?xml version=\"1.0\"?>\n<xmlFile>\n\t<Attributes>\n\t\t<CrsVersion>1</CrsVersion>\n"
    "\t\t<WebTitle>Course</WebTitle>\n\t</Attributes>\n</xmlFile>\n";

const std::string kSheet =
    "Title\tSubtitle\tFolder\tVideo\tCode\tDescription\r\nCourse 1\t\tcourse1\tintro_vid_1\tPC1\tLearn it\r\n";

class HostileFileTest : public HostileTest {
protected:
    void SetUp() override {
        HostileTest::SetUp();
        courselib::GenerateCourses(courses(), 2);
    }
    bool Patched(const std::string& course) const {
        return Holds(ReadBytes(courses() / course / "xml" / "interface.xml"), "<CrsVersion>10.7.0_");
    }
};

bool IsFifo(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

// Nobody ever writes to these FIFOs: a run that opens one to read waits forever.
TEST_F(HostileFileTest, FifosInsteadOfFilesDoNotHangTheRun) {
    const fs::path course = courses() / "course0000";
    const struct {
        const char* name;
        fs::path fifo;
        bool noted;  // the patch log itself cannot note its own FIFO
    } rows[] = {
        {"settings file", course / "xml" / "interface.xml", true},
        {"question file", course / "xml" / "question.xml", true},
        {"exclusion marker", course / "fsscorm.js", true},
        {"existing manifest", course / "imsmanifest.xml", true},
        {"page template", install() / "web" / "html" / "courseID.htm", true},
        {"copied template", install() / "web" / "controls" / "backgrnd.jpg", true},
        {"patch log", install() / "nb_logfile.txt", false},
    };
    const fs::path saved = dir() / "saved";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(install() / "nb_logfile.txt");
        fs::remove_all(courses());
        courselib::GenerateCourses(courses(), 2);
        const bool existed = fs::exists(row.fifo);
        if (existed) fs::rename(row.fifo, saved);
        ASSERT_EQ(::mkfifo(row.fifo.c_str(), 0644), 0);
        const LimitedRun run = RunLimited(config, {courses().string()});
        EXPECT_TRUE(run.ended()) << run.exitCode;
        EXPECT_TRUE(IsFifo(row.fifo));
        if (row.noted) {
            const std::string log = Log();
            EXPECT_TRUE(Holds(log, row.fifo.string())) << log;
            EXPECT_TRUE(Holds(log, "not a regular file")) << log;
        }
        EXPECT_TRUE(Patched("course0001"));
        fs::remove(row.fifo);
        if (existed) fs::rename(saved, row.fifo);
    }
}

// Endless sources: the run must neither grow without bound nor fill the disk.
TEST_F(HostileFileTest, EndlessDevicesAreNotRead) {
    const struct {
        const char* name;
        fs::path link;
        std::vector<std::string> notes;  // any one of them
    } rows[] = {
        // Also a link outside the starting folder: either reason will do.
        {"settings file",
         courses() / "course0000" / "xml" / "interface.xml",
         {"not a regular file", "is a link to '/dev/zero'"}},
        // The installation's own files may be links: only the type refuses these.
        {"page template", install() / "web" / "html" / "courseID.htm", {"not a regular file"}},
        {"copied template", install() / "web" / "controls" / "backgrnd.jpg", {"not a regular file"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(install() / "nb_logfile.txt");
        CopyTree(courses(), dir() / "fresh");
        const fs::path link = row.link.string().rfind(courses().string(), 0) == 0
                                  ? dir() / "fresh" / fs::relative(row.link, courses())
                                  : row.link;
        const fs::path saved = dir() / "saved";
        fs::rename(link, saved);
        fs::create_symlink("/dev/zero", link);
        const LimitedRun run = RunLimited(config, {(dir() / "fresh").string()}, MemoryLimits(1L << 30, 64L << 20));
        EXPECT_TRUE(run.ended()) << run.exitCode;
        EXPECT_LT(run.peakKb, 200 * 1024);
        long biggest = 0;
        for (const auto& e : fs::recursive_directory_iterator(dir() / "fresh")) {
            if (e.is_regular_file()) biggest = std::max<long>(biggest, static_cast<long>(e.file_size()));
        }
        EXPECT_LT(biggest, 4L << 20);
        const std::string log = Log();
        EXPECT_TRUE(Holds(log, link.string())) << log;
        EXPECT_TRUE(Holds(log, row.notes[0]) || (row.notes.size() > 1 && Holds(log, row.notes[1]))) << log;
        fs::remove(link);
        fs::rename(saved, link);
    }
}

TEST_F(HostileFileTest, HugeSparseSettingsFileTakesItsSizeAtMost) {
    const fs::path settings = courses() / "course0000" / "xml" / "interface.xml";
    WriteBytes(settings, kSettings);
    fs::resize_file(settings, 200L << 20);  // sparse: costs no disk
    const LimitedRun run = RunLimited(config, {courses().string()}, MemoryLimits(2L << 30));
    EXPECT_TRUE(run.ended()) << run.exitCode;
    EXPECT_LT(run.peakKb, 300 * 1024);
    EXPECT_TRUE(Patched("course0001"));
    std::cout << "200 MB settings file: peak " << run.peakKb / 1024 << " MB\n";
}

TEST_F(HostileFileTest, SpreadsheetThatIsNotPlainTextIsRefused) {
    std::string utf16 = "\xFF\xFE";
    for (const char c : kSheet) utf16 += std::string{c, '\0'};
    const struct {
        const char* name;
        std::string bytes;
        long sparseSize;  // grown to this size with NUL bytes that cost no disk
        std::string says;
    } rows[] = {
        {"all NUL bytes", "", 200L << 20, "not text"},
        {"NUL bytes after a header", kSheet, 1L << 20, "not text"},
        {"UTF-16 with byte-order mark", utf16, 0, "Unicode text"},
    };
    const std::string catalogue = "intro_vid_0\tPC0\tVideo 0\t<p>Video</p>\n";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WriteBytes(install() / "VOD info.txt", catalogue);
        WriteBytes(install() / "spreadsheet.txt", row.bytes);
        if (row.sparseSize > 0)
            fs::resize_file(install() / "spreadsheet.txt", static_cast<std::uintmax_t>(row.sparseSize));
        const LimitedRun run = RunLimited(config, {"updateFromSpreadsheet=true"}, MemoryLimits(2L << 30, 16L << 20));
        EXPECT_TRUE(run.ended()) << run.exitCode;
        EXPECT_EQ(ReadBytes(install() / "VOD info.txt"), catalogue);
        EXPECT_TRUE(Holds(run.output, "Files not updated")) << run.output;
        EXPECT_TRUE(Holds(run.output, row.says)) << run.output;
        EXPECT_LT(run.peakKb, 300 * 1024);
    }
}

TEST_F(HostileFileTest, UnlistableCourseFolderIsNoted) {
    ASSERT_EQ(Shell("chown -R 65534:65534 " + Quote(dir().string())), 0);
    const fs::path locked = courses() / "course0001";
    ::chmod(locked.c_str(), 0);
    const LimitedRun run = RunLimited(config, {courses().string()}, AsNobody());
    ::chmod(locked.c_str(), 0755);
    EXPECT_TRUE(run.ended()) << run.exitCode;
    EXPECT_TRUE(Patched("course0000"));
    const std::string log = Log();
    EXPECT_TRUE(Holds(log, locked.string())) << log;
}

TEST_F(HostileFileTest, FolderInTheWayOfATemporaryNameIsNamed) {
    const fs::path xml = courses() / "course0000" / "xml";
    fs::create_directories(xml / "question.xml_temp");
    const LimitedRun run = RunLimited(config, {courses().string()});
    EXPECT_TRUE(run.ended()) << run.exitCode;
    const std::string log = Log();
    // The note names the folder in the way, not only question.xml.
    EXPECT_TRUE(Holds(log, (xml / "question.xml_temp").string())) << log;
}

TEST_F(HostileFileTest, StaleTemporaryFilesBesideGeneratedFilesAreDeleted) {
    const fs::path course = courses() / "course0000";
    const std::vector<fs::path> stale = {course / "imsmanifest.xml_temp", course / "xml" / "interface.xml_temp",
                                         course / "xml" / "question.xml_temp", course / "course0000.htm_temp"};
    for (const fs::path& path : stale) WriteBytes(path, "left by an older tool\n");
    const LimitedRun run = RunLimited(config, {courses().string()});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    for (const fs::path& path : stale) EXPECT_FALSE(fs::exists(path)) << path;
    EXPECT_TRUE(Patched("course0000"));
}

}  // namespace
