#include "WriterFixture.h"
#include "writers/LaunchPages.h"

class LaunchPagesTest : public WriterTest {};

TEST_F(LaunchPagesTest, CoursePage) {
    WriteCoursePage(run->files, run->installation, coursePath("fire101.htm"), run->record.courseID);
    Commit();
    EXPECT_EQ(ReadBytes(course() / "fire101.htm"),
              "<!DOCTYPE html>\n"
              "<html>\n"
              "<head>\n"
              "<title>Caf\xC3\xA9 course player</title>\n"
              "<style>\n"
              "#player {\n"
              "\tposition: absolute;\n"
              "\ttop:  50%;\n"
              "\tleft:  50%;\n"
              "\ttop:  50%;\n"
              "\tleft:  50%;\n"
              "}\n"
              "\n"
              "\ttop:  50%;\n"
              "</style>\n"
              "<script>\n"
              "\tvar launchData =\n"
              "\t\t\t'DorvaneID=fire101'\n"
              "\t\t+ '&width=800'; /* 100% wide */\n"
              "\ttop:  50%;\n"
              "</script>\n"
              "</head>\n"
              "<body></body>\n"
              "</html>\n");
}

TEST_F(LaunchPagesTest, IndexPage) {
    WriteIndexPage(run->files, run->installation, coursePath("index.html"), run->record.courseID);
    Commit();
    EXPECT_EQ(ReadBytes(course() / "index.html"),
              "<!DOCTYPE html>\n"
              "<html>\n"
              "<head>\n"
              "<script type=\"text/javascript\">\n"
              "\tfunction getParameter(name) {\n"
              "\t\tvar sPageURL = window.location.search.substring(1);\n"
              "\t\tvar sURLVariables = sPageURL.split('&');\n"
              "\t\tfor (var i = 0; i < sURLVariables.length; i++) {\n"
              "\t\t\tvar sParameterName = sURLVariables[i].split('=');\n"
              "\t\t\tif (sParameterName[0] == name)\n"
              "\t\t\t\t\t\t\t\t\t\treturn sParameterName[1].replace(/%20/g, ' ');\n"
              "\t\t}\n"
              "\t\treturn '';\n"
              "\t}\n"
              "\n"
              "\tfunction launch() {\n"
              "\t\t\t\t\t\t'DorvaneID=fire101'\n"
              "\t\t\t\t\t\twindow.location.assign('fire101.htm?' +\n"
              "\t\t\twindow.location.search.substring(1));\n"
              "\t}\n"
              "</script>\n"
              "</head>\n"
              "<body onload=\"launch()\"></body>\n"
              "</html>\n");
}

TEST_F(LaunchPagesTest, ReadOnlyPageIsRewrittenAndMissingTemplateLeavesPageAlone) {
    WriteBytes(course() / "index.html", "old");
    fs::permissions(course() / "index.html", fs::perms::owner_read);
    WriteIndexPage(run->files, run->installation, coursePath("index.html"), run->record.courseID);
    Commit();
    EXPECT_EQ(ReadBytes(course() / "index.html").substr(0, 16), "<!DOCTYPE html>\n");
    EXPECT_EQ(run->report.updatedList, "");

    fs::remove(web() / "html" / "index.html");
    fs::remove(web() / "html" / "courseID.htm");
    WriteBytes(course() / "index.html", "old");
    WriteIndexPage(run->files, run->installation, coursePath("index.html"), run->record.courseID);
    Commit();
    WriteCoursePage(run->files, run->installation, coursePath("fire101.htm"), run->record.courseID);
    Commit();
    EXPECT_EQ(ReadBytes(course() / "index.html"), "old");
    EXPECT_FALSE(fs::exists(course() / "fire101.htm"));
}

TEST_F(LaunchPagesTest, TemplateNamesFoundInAnyLetterCase) {
    fs::rename(web() / "html" / "courseID.htm", web() / "html" / "COURSEID.HTM");
    fs::rename(web() / "html", web() / "Html");
    WriteCoursePage(run->files, run->installation, coursePath("fire101.htm"), run->record.courseID);
    Commit();
    EXPECT_TRUE(fs::exists(course() / "fire101.htm"));
}
