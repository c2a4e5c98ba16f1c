#include <gtest/gtest.h>

#include <climits>

#include "settings/CourseSettings.h"

TEST(CourseSettingsTest, EditTextConversion) {
    EXPECT_EQ(ConvertEditText("12ab"), 12);
    EXPECT_EQ(ConvertEditText("ab"), 0);
    EXPECT_EQ(ConvertEditText("  -7x"), -7);
    EXPECT_EQ(ConvertEditText("+5"), 5);
    EXPECT_EQ(ConvertEditText("99999999999"), INT_MAX);
    EXPECT_EQ(ConvertEditText("-99999999999"), INT_MIN);
    EXPECT_EQ(ConvertEditText("2147483648"), INT_MAX);
    EXPECT_EQ(ConvertEditText("-2147483648"), INT_MIN);
}

TEST(CourseSettingsTest, EmptyEditsKeepDefaultsAndTimeoutShowsSixty) {
    const CourseSettings s = ApplyOkRules(SettingsControls{});
    EXPECT_EQ(s.pretestQuestionCount, 0);
    EXPECT_EQ(s.posttestQuestionCount, 0);
    EXPECT_EQ(s.pretestPassingScore, -1);
    EXPECT_EQ(s.posttestPassingScore, -1);
    EXPECT_EQ(s.posttestRetakeCount, 0);
    EXPECT_EQ(s.courseTimeout, 60);
    EXPECT_EQ(s.fullScreenAtStartup, "normal");
    EXPECT_TRUE(s.assessmentAutoSkip);
    EXPECT_EQ(s.packageType, PackageType::Scorm12);
    EXPECT_EQ(s.exitStatusMode, ExitStatusMode::ScormConformant);

    SettingsControls c;
    c.courseTimeout = "";
    EXPECT_EQ(ApplyOkRules(c).courseTimeout, 60);
    c.courseTimeout = "0";
    EXPECT_EQ(ApplyOkRules(c).courseTimeout, 0);
}

TEST(CourseSettingsTest, AssessmentModeCopiesPretestValuesAndTakesAutoSkip) {
    SettingsControls c;
    c.testMode = TestMode::Assessment;
    c.assessmentRadioSelected = true;
    c.pretestQuestionCount = "5";
    c.pretestPassingScore = "80";
    c.posttestQuestionCount = "10";
    c.posttestPassingScore = "70";
    c.assessmentAutoSkip = false;
    CourseSettings s = ApplyOkRules(c);
    EXPECT_EQ(s.posttestQuestionCount, 5);
    EXPECT_EQ(s.posttestPassingScore, 80);
    EXPECT_FALSE(s.assessmentAutoSkip);
    EXPECT_EQ(s.testMode, TestMode::Assessment);

    c.pretestQuestionCount = "";
    c.pretestPassingScore = "";
    s = ApplyOkRules(c);
    EXPECT_EQ(s.posttestQuestionCount, 0);
    EXPECT_EQ(s.posttestPassingScore, -1);

    c.pretestQuestionCount = "9";
    EXPECT_EQ(ApplyOkRules(c).pretestQuestionCount, 9);
}

TEST(CourseSettingsTest, PretestModeKeepsAutoSkipDefaultWhateverTheHiddenTick) {
    SettingsControls c;
    c.assessmentAutoSkip = false;  // ticked off in Assessment mode, then back to Pretest
    c.posttestQuestionCount = "10";
    const CourseSettings s = ApplyOkRules(c);
    EXPECT_TRUE(s.assessmentAutoSkip);
    EXPECT_EQ(s.posttestQuestionCount, 10);
}

TEST(CourseSettingsTest, RadiosAndCheckboxesMapToFields) {
    SettingsControls c;
    c.exitStatus = ExitStatusMode::PassedNoPosttest;
    c.packageType = PackageType::Xapi;
    c.fullScreenAtStartup = true;
    c.createVodPackages = true;
    c.updateFromSpreadsheet = true;
    const CourseSettings s = ApplyOkRules(c);
    EXPECT_EQ(s.exitStatusMode, ExitStatusMode::PassedNoPosttest);
    EXPECT_EQ(s.packageType, PackageType::Xapi);
    EXPECT_EQ(s.fullScreenAtStartup, "full screen");
    EXPECT_TRUE(s.createVodPackages && s.updateFromSpreadsheet);
    EXPECT_FALSE(s.enableReverse);
}
