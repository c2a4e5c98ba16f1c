// Folder names that would break generated markup, scripts, links or the log.
#include <sstream>

#include "HostileFixture.h"

namespace {

const std::vector<std::string> kNames = {"o'neil101", "r&d<1>", "a#b?c%d", "say \"hi\"", "new\nline", "<!--<script>x"};

// The href values of a file, in order.
std::vector<std::string> Hrefs(const std::string& text) {
    std::vector<std::string> values;
    for (std::size_t pos = text.find("href=\""); pos != std::string::npos; pos = text.find("href=\"", pos + 1)) {
        const std::size_t start = pos + 6;
        values.push_back(text.substr(start, text.find('"', start) - start));
    }
    return values;
}

class HostileNameTest : public HostileTest {
protected:
    // A bundle for each name, made from one generated course.
    void MakeCourses(const std::vector<std::string>& names) {
        courselib::GenerateCourses(dir() / "template", 1);
        for (const std::string& name : names) {
            const fs::path course = courses() / name;
            CopyTree(dir() / "template" / "course0000", course);
            if (fs::exists(course / "course0000")) fs::rename(course / "course0000", course / name);
        }
    }
};

TEST_F(HostileNameTest, GeneratedFilesStayWellFormed) {
    MakeCourses(kNames);
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::vector<std::string> xmlFiles;
        std::vector<std::string> pages;  // relative to the course folder; "@" is the course's name
    } jobs[] = {
        {"SCORM", {"exitStatusMode=CompletedIncomplete"}, {"imsmanifest.xml"}, {"@.htm"}},
        {"xAPI", {"packageType=Xapi"}, {"tincan.xml"}, {"@.htm", "index.html"}},
    };
    for (const auto& job : jobs) {
        std::vector<std::string> args = job.args;
        args.push_back(courses().string());
        const LimitedRun run = RunLimited(config, args);
        EXPECT_EQ(run.exitCode, 0) << run.output;
        std::vector<fs::path> pages;
        for (const std::string& name : kNames) {
            const fs::path course = courses() / name;
            for (const std::string& file : job.xmlFiles) {
                SCOPED_TRACE(std::string(job.name) + ": " + name + "/" + file);
                EXPECT_EQ(XmlProblems(course / file), "");
                for (const std::string& href : Hrefs(ReadBytes(course / file))) {
                    EXPECT_EQ(href.find_first_of("#?"), std::string::npos) << href;
                }
            }
            for (const std::string& page : job.pages)
                pages.push_back(course / (page == "@.htm" ? name + ".htm" : page));
        }
        SCOPED_TRACE(job.name);
        EXPECT_EQ(ScriptProblems(pages), "");
        if (std::string_view(job.name) != "SCORM") continue;
        // The manifest links to the page by its name with the URL characters encoded
        // (the xAPI run after this one deletes the manifest).
        const std::vector<std::string> hrefs = Hrefs(ReadBytes(courses() / "a#b?c%d" / "imsmanifest.xml"));
        EXPECT_NE(std::find(hrefs.begin(), hrefs.end(), "a%23b%3Fc%25d.htm"), hrefs.end());
    }
}

TEST_F(HostileNameTest, VideoNamesKeepPackagesWellFormed) {
    const std::vector<std::string> titles = {"o'neil_vid_1", "r&d<1>_vid_2", "a#b?c%d_vid_3", "say \"hi\"_vid_4"};
    for (const std::string& title : titles) {
        WriteBytes(dir() / "videos" / (title + ".mp4"), "video");
        WriteBytes(dir() / "videos" / (title + ".vtt"), "WEBVTT\n");
    }
    // Catalogue text holds character references already; bare markup characters must not get through.
    WriteBytes(install() / "VOD info.txt",
               "r&d<1>_vid_2\tPC<2>\tR&D <1> & Fire&#44; Safety\t<p>Tips & tricks &nbsp;&#x2026;</p>\n");
    const LimitedRun run = RunLimited(config, {"createVodPackages=true", (dir() / "videos").string()});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    std::vector<fs::path> pages;
    for (const std::string& title : titles) {
        SCOPED_TRACE(title);
        const fs::path package = install() / "vod packages" / title;
        EXPECT_EQ(XmlProblems(package / "imsmanifest.xml"), "");
        pages.push_back(package / (title + ".htm"));
    }
    EXPECT_EQ(ScriptProblems(pages), "");
}

TEST_F(HostileNameTest, NamesCannotForgeLinesOfThePatchLog) {
    MakeCourses({"c1\r\nThe following course bundles were updated 01.01.2000 00:00:", "new\nline"});
    const LimitedRun run = RunLimited(config, {courses().string()});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    const std::string log = Log();
    EXPECT_TRUE(Holds(log, "new\\nline")) << log;
    EXPECT_TRUE(Holds(log, "c1\\r\\nThe following")) << log;
    std::istringstream lines(log);
    int headings = 0;
    for (std::string line; std::getline(lines, line);) {
        SCOPED_TRACE(line);
        EXPECT_NE(line.rfind("line", 0), 0u);
        if (line.rfind("The following course bundles were updated", 0) == 0) ++headings;
    }
    EXPECT_EQ(headings, 1) << log;
}

TEST_F(HostileNameTest, NameThatIsNotUtf8IsLeftAloneAndNamed) {
    MakeCourses({"caf\xE9", "plain"});
    const fs::path odd = courses() / "caf\xE9";
    const TreeState before = ReadTreeState(odd);
    const LimitedRun run = RunLimited(config, {courses().string()});
    EXPECT_TRUE(run.ended()) << run.exitCode;
    EXPECT_EQ(DescribeChanges(before, ReadTreeState(odd)), std::vector<std::string>{});
    EXPECT_EQ(XmlProblems(courses() / "plain" / "imsmanifest.xml"), "");
    const std::string log = Log();
    EXPECT_TRUE(Holds(log, "caf\\xE9")) << log;
    EXPECT_TRUE(Holds(log, "not a valid UTF-8 name")) << log;
}

}  // namespace
