#include <gtest/gtest.h>

#include "settings/SettingsPairs.h"

TEST(SettingsPairsTest, PairsSetTheControlsTheDialogWouldHold) {
    SettingsControls c;
    EXPECT_EQ(ApplySettingsPair(c, "testMode", "Assessment"), "");
    EXPECT_EQ(ApplySettingsPair(c, "pretestQuestionCount", "12ab"), "");
    EXPECT_EQ(ApplySettingsPair(c, "exitStatusMode", "PassedIncomplete"), "");
    EXPECT_EQ(ApplySettingsPair(c, "packageType", "Xapi"), "");
    EXPECT_EQ(ApplySettingsPair(c, "enableReverse", "true"), "");
    EXPECT_EQ(ApplySettingsPair(c, "fullScreenAtStartup", "true"), "");
    const CourseSettings s = ApplyOkRules(c);
    EXPECT_EQ(s.testMode, TestMode::Assessment);
    EXPECT_EQ(s.posttestQuestionCount, 12);
    EXPECT_EQ(s.exitStatusMode, ExitStatusMode::PassedIncomplete);
    EXPECT_EQ(s.packageType, PackageType::Xapi);
    EXPECT_FALSE(s.enableReverse);
    EXPECT_EQ(s.fullScreenAtStartup, "full screen");
}

TEST(SettingsPairsTest, UnknownNamesAndBadValuesAreNamed) {
    SettingsControls c;
    EXPECT_EQ(ApplySettingsPair(c, "colour", "red"), "unknown setting name 'colour'");
    EXPECT_NE(ApplySettingsPair(c, "showNavBar", "yes").find("bad value 'yes' for showNavBar"), std::string::npos);
    EXPECT_NE(ApplySettingsPair(c, "testMode", "pretest"), "");
    EXPECT_EQ(ApplySettingsText(c, "# comment\n\n  showNavBar=true\r\npackageType=Scorm13\n", "run.conf"),
              "run.conf:4: bad value 'Scorm13' for packageType (expected Scorm12 or Xapi)");
    EXPECT_TRUE(c.showNavBar);
    EXPECT_EQ(ApplySettingsText(c, "showNavBar\n", "run.conf"), "run.conf:1: expected NAME=VALUE");
}
