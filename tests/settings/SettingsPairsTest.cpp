#include <gtest/gtest.h>

#include "settings/SettingsFields.h"
#include "settings/SettingsPairs.h"

using Problems = std::vector<std::string>;

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

TEST(SettingsPairsTest, EveryValueOfEveryFieldReachesTheRecord) {
    // Each Flag and Choice value, alone on top of the opening controls, gives
    // that value after OK; numbers are taken as typed.
    for (const SettingsField& field : SettingsFields()) {
        SCOPED_TRACE(field.name);
        SettingsControls c;
        // Auto-skip is read only in Assessment mode.
        if (field.inAssessment == InAssessment::OnlyThen) {
            ASSERT_EQ(ApplySettingsPair(c, "testMode", "Assessment"), "");
        }
        if (field.kind == FieldKind::Number) {
            ASSERT_EQ(ApplySettingsPair(c, field.name, " 17 "), "");
            EXPECT_EQ(FieldValueText(ApplyOkRules(c), field), "17");
            continue;
        }
        for (const FieldValue& value : field.values) {
            ASSERT_EQ(ApplySettingsPair(c, field.name, value.name), "") << value.name;
            const std::string expected = field.control == kNoControl && field.kind == FieldKind::Flag
                                             ? FieldValueText(CourseSettings{}, field)  // no control: stays
                                             : std::string(value.name);
            EXPECT_EQ(FieldValueText(ApplyOkRules(c), field), expected) << value.name;
        }
    }
}

TEST(SettingsPairsTest, UnknownNamesAndBadValuesAreNamed) {
    SettingsControls c;
    EXPECT_EQ(ApplySettingsPair(c, "colour", "red"), "unknown setting name 'colour'");
    EXPECT_EQ(ApplySettingsPair(c, "showNavBar", "yes"), "bad value 'yes' for showNavBar (expected true or false)");
    EXPECT_EQ(ApplySettingsPair(c, "testMode", "pretest"),
              "bad value 'pretest' for testMode (expected Pretest or Assessment)");
    EXPECT_EQ(ApplySettingsPair(c, "exitStatusMode", ""),
              "bad value '' for exitStatusMode (expected ScormConformant, CompletedIncomplete, PassedIncomplete or "
              "PassedNoPosttest)");
    EXPECT_EQ(ApplySettingsText(c, "# comment\n\n  showNavBar=true\r\npackageType=Scorm13\n", "run.conf"),
              Problems{"run.conf:4: bad value 'Scorm13' for packageType (expected Scorm12, Xapi or Scorm2004)"});
    EXPECT_TRUE(c.IsSelected(1041));
    EXPECT_EQ(ApplySettingsText(c, "showNavBar\n", "run.conf"), Problems{"run.conf:1: expected NAME=VALUE"});
}

TEST(SettingsPairsTest, ASettingsFileReportsEveryProblemWithItsLineAndAppliesTheRest) {
    SettingsControls c;
    const Problems problems = ApplySettingsText(c,
                                                "\xEF\xBB\xBFshowNavBar = true\n"
                                                "colour=red\n"
                                                "# packageType=Bogus\n"
                                                "packageType=Bogus\r\n"
                                                "  \t\n"
                                                "just words\n"
                                                "courseTimeout=90",
                                                "/x/run.conf");
    EXPECT_EQ(problems,
              (Problems{"/x/run.conf:2: unknown setting name 'colour'",
                        "/x/run.conf:4: bad value 'Bogus' for packageType (expected Scorm12, Xapi or Scorm2004)",
                        "/x/run.conf:6: expected NAME=VALUE"}));
    // The byte-order mark did not spoil the first name; the last line has no line end.
    EXPECT_TRUE(c.IsSelected(1041));
    EXPECT_EQ(c.EditText(1019), "90");
}

TEST(SettingsPairsTest, AUtf16SettingsFileIsOneProblem) {
    for (const std::string& bom : {std::string("\xFF\xFE"), std::string("\xFE\xFF")}) {
        SettingsControls c;
        const std::string text = bom + std::string("s\0h\0o\0w\0=\0\n\0", 12);
        EXPECT_EQ(ApplySettingsText(c, text, "run.conf"),
                  Problems{"run.conf:1: the file is UTF-16 text; save it as UTF-8"});
    }
}
