#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <random>

#include "CourseLibrary.h"
#include "World.h"

namespace {

const std::string kSettings =
    "<?xml version=\"1.0\"?>\n<xmlFile>\n\t<Attributes>\n\t\t<CrsVersion>1</CrsVersion>\n"
    "\t\t<WebTitle>Course</WebTitle>\n\t</Attributes>\n\t<ActiveFeatures>\n\t</ActiveFeatures>\n"
    "\t<ExamSettings>\n\t</ExamSettings>\n</xmlFile>\n";

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::mt19937_64 random(seed);
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        const auto v = random();
        for (int k = 0; k < 8; ++k) bytes[i + k] = static_cast<char>(v >> (8 * k));
    }
    return bytes;
}

// Megabytes of random input for the catalogue and spreadsheet runs:
// QUARVEL_HUGE_INPUT_MB raises it (1024 for the full gigabyte).
std::size_t HugeInputBytes() {
    const char* mb = std::getenv("QUARVEL_HUGE_INPUT_MB");
    return static_cast<std::size_t>(mb != nullptr ? std::atol(mb) : 64) << 20;
}

class HostileInputTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        courselib::GenerateInstallation(dir() / "install");
        config = dir() / "quarvel.conf";
        WriteBytes(config, "NB Path=" + (dir() / "install").string() + "\n");
        fs::create_directories(dir() / "courses");
    }
    std::string Log() const { return ReadBytes(dir() / "install" / "nb_logfile.txt"); }
    fs::path config;
};

TEST_F(HostileInputTest, OddFolderNamesPassThroughUnharmed) {
    const std::vector<std::string> names = {"50%",        "%s%n%d%x",  "quote'\"",
                                            "with space", "new\nline", std::string(255, 'n')};
    for (const std::string& name : names) WriteBytes(dir() / "courses" / name / "xml" / "interface.xml", kSettings);
    WriteBytes(dir() / "courses" / "caf\xE9" / "xml" / "interface.xml", kSettings);
    const BatchRun run = RunBatch(config, {(dir() / "courses").string()});
    // 3: the bundle whose name is not UTF-8 is refused.
    ASSERT_TRUE(run.exitCode == 0 || run.exitCode == 3) << run.exitCode << run.output;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string settings = ReadBytes(dir() / "courses" / name / "xml" / "interface.xml");
        EXPECT_NE(settings.find("<CrsVersion>10.7.0_"), std::string::npos);
        EXPECT_TRUE(fs::exists(dir() / "courses" / name / "imsmanifest.xml"));
    }
    // A name that is not UTF-8 cannot go into the generated files: the bundle
    // is left alone and the log names it with the byte escaped.
    EXPECT_EQ(ReadBytes(dir() / "courses" / "caf\xE9" / "xml" / "interface.xml"), kSettings);
    EXPECT_FALSE(fs::exists(dir() / "courses" / "caf\xE9" / "imsmanifest.xml"));
    EXPECT_NE(Log().find(Utf16LeBytes("caf\\xE9")), std::string::npos);
    // Nothing was written outside the tree.
    std::vector<std::string> top;
    for (const auto& e : fs::directory_iterator(dir())) top.push_back(e.path().filename().string());
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, (std::vector<std::string>{"batch-output.txt", "courses", "install", "quarvel.conf"}));
}

TEST_F(HostileInputTest, MarkupInValuesKeepsTheManifestWellFormed) {
    std::string settings = kSettings;
    settings.insert(settings.find("\t</Attributes>"),
                    "\t\t<WebDescription>end ]]> and <b>&amp;\x01</WebDescription>\n");
    WriteBytes(dir() / "courses" / "c1" / "xml" / "interface.xml", settings);
    ASSERT_EQ(RunBatch(config, {"updateDescriptionsInInterfaceXml=true", (dir() / "courses").string()}).exitCode, 0);
    const std::string manifest = (dir() / "courses" / "c1" / "imsmanifest.xml").string();
    // Control characters are copied as they are; the XML must still hold together around "]]>".
    std::string text = ReadBytes(manifest);
    text.erase(std::remove(text.begin(), text.end(), '\x01'), text.end());
    WriteBytes(dir() / "check.xml", text);
    EXPECT_EQ(std::system(("xmllint --noout '" + (dir() / "check.xml").string() + "'").c_str()), 0) << text;
}

TEST_F(HostileInputTest, HugeSettingsFiles) {
    std::string many = "<?xml version=\"1.0\"?>\n<xmlFile>\n\t<Attributes>\n\t\t<CrsVersion>1</CrsVersion>\n";
    while (many.size() < (100u << 20)) many += "\t\t<Topic>a line of an enormous settings file, number</Topic>\n";
    many += "\t</Attributes>\n</xmlFile>\n";
    WriteBytes(dir() / "courses" / "big" / "xml" / "interface.xml", many);
    WriteBytes(dir() / "courses" / "long" / "xml" / "interface.xml",
               "<x>\n<Title>" + std::string(10u << 20, 'L') + "</Title>\n\t<CrsVersion>1</CrsVersion>\n");
    std::string tiny = "<x>\n";
    for (int i = 0; i < 1000000; ++i) tiny += "a\n";
    WriteBytes(dir() / "courses" / "tiny" / "xml" / "interface.xml", tiny);
    const auto [exitCode, peakKb] = RunBatchMeasured(config, {(dir() / "courses").string()});
    ASSERT_EQ(exitCode, 0);
    for (const char* name : {"big", "long"}) {
        EXPECT_NE(ReadBytes(dir() / "courses" / name / "xml" / "interface.xml").find("<CrsVersion>10.7.0_"),
                  std::string::npos);
    }
    std::cout << "100 MB settings file, 10 MB line, a million lines: peak " << peakKb / 1024 << " MB\n";
}

TEST_F(HostileInputTest, RandomBytesAsCataloguesAndSpreadsheet) {
    const std::size_t size = HugeInputBytes();
    WriteBytes(dir() / "install" / "HTML course descriptions.txt", RandomBytes(size, 1));
    WriteBytes(dir() / "install" / "VOD info.txt", RandomBytes(size, 2));
    WriteBytes(dir() / "install" / "spreadsheet.txt", RandomBytes(size, 3));
    WriteBytes(dir() / "courses" / "c1" / "xml" / "interface.xml", kSettings);
    WriteBytes(dir() / "videos" / "a_vid_1.mp4", "v");
    const auto [mainExit, mainKb] =
        RunBatchMeasured(config, {"updateDescriptionsFromHtml=true", (dir() / "courses").string()});
    const auto [vodExit, vodKb] = RunBatchMeasured(config, {"createVodPackages=true", (dir() / "videos").string()});
    const auto [sheetExit, sheetKb] = RunBatchMeasured(config, {"updateFromSpreadsheet=true"});
    EXPECT_EQ(mainExit, 0);
    EXPECT_EQ(vodExit, 0);
    EXPECT_EQ(sheetExit, 3);  // random bytes hold NUL bytes: not text, refused
    std::cout << (size >> 20) << " MB of random bytes: peak " << mainKb / 1024 << " MB (main job), " << vodKb / 1024
              << " MB (VOD job), " << sheetKb / 1024 << " MB (spreadsheet)\n";
}

TEST_F(HostileInputTest, DeepTreeAtThePathLimit) {
    // Room left for "/xml/interface.xml" and a temporary name beside it.
    std::string deep = (dir() / "courses").string();
    int levels = 0;
    for (; deep.size() + 2 + 40 < 4095; ++levels) {
        deep += "/d";
        ASSERT_EQ(::mkdir(deep.c_str(), 0777), 0) << levels;
    }
    ASSERT_EQ(::mkdir((deep + "/xml").c_str(), 0777), 0);
    WriteBytes(deep + "/xml/interface.xml", kSettings);
    const BatchRun run = RunBatch(config, {(dir() / "courses").string()});
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_NE(ReadBytes(deep + "/xml/interface.xml").find("<CrsVersion>10.7.0_"), std::string::npos);
    std::cout << levels << " levels walked\n";
}

TEST_F(HostileInputTest, FolderLinkLoopsAreWalkedOnce) {
    WriteBytes(dir() / "courses" / "a" / "c1" / "xml" / "interface.xml", kSettings);
    fs::create_directory_symlink(dir() / "courses", dir() / "courses" / "a" / "loop");
    fs::create_directory_symlink(dir() / "courses" / "a", dir() / "courses" / "b");
    ASSERT_EQ(RunBatch(config, {(dir() / "courses").string()}).exitCode, 0);
    const std::string log = Log();
    const std::string xml("x\0m\0l\0\r\0\n\0", 10);
    std::size_t count = 0;
    for (std::size_t pos = log.find(xml); pos != std::string::npos; pos = log.find(xml, pos + 1)) ++count;
    EXPECT_EQ(count, 1u);
}

}  // namespace
