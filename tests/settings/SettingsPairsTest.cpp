#include <gtest/gtest.h>

#include "settings/SettingsFields.h"
#include "settings/SettingsPairs.h"

using Problems = std::vector<std::string>;

TEST(SettingsPairsTest, PairsSetTheControlsTheDialogWouldHold) {
    SettingsControls c;
    EXPECT_EQ(ApplySettingsPair(c, "testMode", "Assessment"), "");
    EXPECT_EQ(ApplySettingsPair(c, "pretestQuestionCount", "12"), "");
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
            ASSERT_EQ(ApplySettingsPair(c, field.name, "17"), "");
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

TEST(SettingsPairsTest, ANumberIsOneToNineDigitsAndAPassMarkAtMostOneHundred) {
    constexpr const char* kDigits = "1 to 9 digits, or nothing for the default";
    constexpr const char* kPassMark = "0 to 100 in digits, or nothing for the default";
    const struct {
        const char* name;
        const char* value;
        const char* expected;  // what the message says is taken; empty when the value is good
        const char* editText;  // what the edit box then holds
    } rows[] = {
        {"courseTimeout", "0", "", "0"},
        {"courseTimeout", "007", "", "007"},
        {"courseTimeout", "999999999", "", "999999999"},
        {"courseTimeout", "", "", ""},
        {"courseTimeout", "1000000000", kDigits, "60"},
        {"courseTimeout", "0000000001", kDigits, "60"},
        {"courseTimeout", "-5", kDigits, "60"},
        {"courseTimeout", "+5", kDigits, "60"},
        {"courseTimeout", "12ab", kDigits, "60"},
        {"courseTimeout", "abc", kDigits, "60"},
        {"courseTimeout", " 12", kDigits, "60"},
        {"courseTimeout", "12 ", kDigits, "60"},
        {"courseTimeout", "1 2", kDigits, "60"},
        {"courseTimeout", "1\t2", kDigits, "60"},
        {"courseTimeout", "\xEF\xBC\x91", kDigits, "60"},  // a full-width 1
        {"pretestPassingScore", "100", "", "100"},
        {"pretestPassingScore", "0", "", "0"},
        {"pretestPassingScore", "101", kPassMark, ""},
        {"posttestPassingScore", "150", kPassMark, ""},
        {"posttestPassingScore", "999999999", kPassMark, ""},
        {"posttestPassingScore", "-1", kPassMark, ""},
        {"posttestRetakeCount", "3x", kDigits, ""},
        {"keepUndoRuns", "0", "", "0"},
        {"uploadSizeLimitMB", "-1", kDigits, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.name) + "=" + row.value);
        SettingsControls c;
        const std::string problem = ApplySettingsPair(c, row.name, row.value);
        if (*row.expected == '\0') {
            EXPECT_EQ(problem, "");
        } else {
            EXPECT_EQ(problem, "bad value '" + std::string(row.value) + "' for " + row.name + " (expected " +
                                   row.expected + ")");
        }
        EXPECT_EQ(c.NumberText(*FindSettingsField(row.name)), row.editText);
    }
}

TEST(SettingsPairsTest, EveryNumberKeepsItsOwnValueWhenAllAreGiven) {
    // Batch-only numbers have no edit box: none may take another's value.
    SettingsControls c;
    int given = 11;
    for (const SettingsField& field : SettingsFields()) {
        if (field.kind == FieldKind::Number) {
            ASSERT_EQ(ApplySettingsPair(c, field.name, std::to_string(given++)), "");
        }
    }
    const CourseSettings s = ApplyOkRules(c);
    int expected = 11;
    for (const SettingsField& field : SettingsFields()) {
        if (field.kind == FieldKind::Number) {
            EXPECT_EQ(ReadField(s, field), expected++) << field.name;
        }
    }
    EXPECT_EQ(ApplyOkRules(SettingsControls{}).uploadSizeLimitMB, 500);
    EXPECT_EQ(ApplyOkRules(SettingsControls{}).keepUndoRuns, 5);
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
                                                "courseTimeout = 90 ",
                                                "/x/run.conf");
    EXPECT_EQ(problems,
              (Problems{"/x/run.conf:2: unknown setting name 'colour'",
                        "/x/run.conf:4: bad value 'Bogus' for packageType (expected Scorm12, Xapi or Scorm2004)",
                        "/x/run.conf:6: expected NAME=VALUE"}));
    // The byte-order mark did not spoil the first name; the last line has no
    // line end, and blanks around its value are the line's, not the value's.
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
