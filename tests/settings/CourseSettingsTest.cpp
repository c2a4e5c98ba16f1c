#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <optional>
#include <utility>
#include <vector>

#include "settings/CourseSettings.h"
#include "settings/SettingsFields.h"

namespace {

// Control ids of the settings dialog, as the tests below set them.
constexpr int kPretestCount = 1007, kPosttestCount = 1008, kPretestScore = 1009, kPosttestScore = 1010;
constexpr int kTimeout = 1019, kRetakes = 1021;

// A click on `radio`: it is selected, the others of its group are cleared.
void Click(SettingsControls& c, int radio) {
    for (const std::vector<int>& group : SettingsRadioGroups()) {
        if (std::find(group.begin(), group.end(), radio) == group.end()) continue;
        for (const int other : group) c.SetSelected(other, other == radio);
    }
}

}  // namespace

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
    EXPECT_EQ(s.testMode, TestMode::Pretest);
    EXPECT_EQ(s.packageType, PackageType::Scorm12);
    EXPECT_EQ(s.exitStatusMode, ExitStatusMode::ScormConformant);

    SettingsControls c;
    EXPECT_EQ(c.EditText(kTimeout), "60");
    c.editTexts[kTimeout] = "";
    EXPECT_EQ(ApplyOkRules(c).courseTimeout, 60);
    c.editTexts[kTimeout] = "0";
    EXPECT_EQ(ApplyOkRules(c).courseTimeout, 0);
}

TEST(CourseSettingsTest, AssessmentModeCopiesPretestValuesAndTakesAutoSkip) {
    SettingsControls c;
    Click(c, TestModeRadio(TestMode::Assessment));
    c.editTexts[kPretestCount] = "5";
    c.editTexts[kPretestScore] = "80";
    c.editTexts[kPosttestCount] = "10";
    c.editTexts[kPosttestScore] = "70";
    CourseSettings s = ApplyOkRules(c);
    EXPECT_EQ(s.posttestQuestionCount, 5);
    EXPECT_EQ(s.posttestPassingScore, 80);
    EXPECT_FALSE(s.assessmentAutoSkip);
    EXPECT_EQ(s.testMode, TestMode::Assessment);
    c.SetSelected(kAutoSkipCheckbox, true);
    EXPECT_TRUE(ApplyOkRules(c).assessmentAutoSkip);

    c.editTexts[kPretestCount] = "";
    c.editTexts[kPretestScore] = "";
    s = ApplyOkRules(c);
    EXPECT_EQ(s.posttestQuestionCount, 0);
    EXPECT_EQ(s.posttestPassingScore, -1);

    c.editTexts[kPretestCount] = "9";
    EXPECT_EQ(ApplyOkRules(c).pretestQuestionCount, 9);
    EXPECT_EQ(ApplyOkRules(c).posttestQuestionCount, 9);
}

TEST(CourseSettingsTest, PretestModeKeepsAutoSkipDefaultWhateverTheHiddenTick) {
    SettingsControls c;
    c.SetSelected(kAutoSkipCheckbox, false);  // ticked off in Assessment mode, then back to Pretest
    c.editTexts[kPosttestCount] = "10";
    const CourseSettings s = ApplyOkRules(c);
    EXPECT_TRUE(s.assessmentAutoSkip);
    EXPECT_EQ(s.posttestQuestionCount, 10);
}

TEST(CourseSettingsTest, TheRecordKeepsTheTestModeItsClickHandlersSet) {
    // OK reads the controls into the dialog's record; the test mode is the
    // click handlers' and is not read again.
    SettingsControls c;
    c.editTexts[kRetakes] = "2";
    CourseSettings s;
    s.testMode = TestMode::Assessment;
    ApplyOkRules(c, s);
    EXPECT_EQ(s.testMode, TestMode::Assessment);
    EXPECT_EQ(s.posttestRetakeCount, 2);
}

TEST(CourseSettingsTest, RadiosAndCheckboxesMapToFields) {
    SettingsControls c;
    Click(c, 1028);
    Click(c, 1045);
    c.SetSelected(1040, true);
    c.SetSelected(1034, true);
    c.SetSelected(1048, true);
    const CourseSettings s = ApplyOkRules(c);
    EXPECT_EQ(s.exitStatusMode, ExitStatusMode::PassedNoPosttest);
    EXPECT_EQ(s.packageType, PackageType::Xapi);
    EXPECT_EQ(s.fullScreenAtStartup, "full screen");
    EXPECT_TRUE(s.createVodPackages && s.updateFromSpreadsheet);
    EXPECT_FALSE(s.enableReverse);
}

TEST(CourseSettingsTest, ExitStatusRadiosAreTestedInTheirOrderAndPackageTypeByItsFirstRadio) {
    // Only one radio of a group is ever selected in the dialog; with none or
    // several the first tested one wins, and packageType falls back to xAPI.
    struct Row {
        std::vector<int> selected;
        ExitStatusMode exitStatus;
        PackageType package;
    };
    const Row rows[] = {
        {{}, ExitStatusMode::ScormConformant, PackageType::Xapi},
        {{1006, 1044}, ExitStatusMode::ScormConformant, PackageType::Scorm12},
        {{1022, 1027}, ExitStatusMode::CompletedIncomplete, PackageType::Xapi},
        {{1027, 1028, 1045}, ExitStatusMode::PassedIncomplete, PackageType::Xapi},
        {{1028, 1044, 1045}, ExitStatusMode::PassedNoPosttest, PackageType::Scorm12},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.selected));
        SettingsControls c;
        c.selected.clear();
        for (const int id : row.selected) c.SetSelected(id, true);
        const CourseSettings s = ApplyOkRules(c);
        EXPECT_EQ(s.exitStatusMode, row.exitStatus);
        EXPECT_EQ(s.packageType, row.package);
    }
}

TEST(CourseSettingsTest, OkRefusesAPassMarkAboveOneHundredNamingItsBox) {
    // Pasted text is converted as OK converts it; only the pass marks have a limit.
    const struct {
        const char* name;
        std::vector<std::pair<int, const char*>> texts;
        bool assessment;
        int refusedEdit;  // 0: OK goes ahead
        const char* label;
    } rows[] = {
        {"both at 100", {{kPretestScore, "100"}, {kPosttestScore, "100"}}, false, 0, ""},
        {"pretest 101", {{kPretestScore, "101"}}, false, kPretestScore, "Pretest Passing Score"},
        {"pasted 150abc in the posttest box",
         {{kPosttestScore, "150abc"}},
         false,
         kPosttestScore,
         "Posttest Passing Score"},
        {"both too high: the first in the record's order",
         {{kPosttestScore, "200"}, {kPretestScore, "300"}},
         false,
         kPretestScore,
         "Pretest Passing Score"},
        {"Assessment mode names the box as it is labelled then",
         {{kPretestScore, "150"}},
         true,
         kPretestScore,
         "Assessment / Prescriptive Posttest Passing Score"},
        {"the posttest box is checked in Assessment mode too",
         {{kPosttestScore, "150"}},
         true,
         kPosttestScore,
         "Posttest Passing Score"},
        {"a pasted negative pass mark is converted, not refused", {{kPretestScore, " -5"}}, false, 0, ""},
        {"text without digits is 0", {{kPosttestScore, "ab"}}, false, 0, ""},
        {"other numbers have no limit at OK", {{kTimeout, "99999999999"}, {kRetakes, "5000"}}, false, 0, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SettingsControls c;
        if (row.assessment) Click(c, TestModeRadio(TestMode::Assessment));
        for (const auto& [id, text] : row.texts) c.editTexts[id] = text;
        const std::optional<RefusedOkValue> refused = FindRefusedOkValue(c);
        ASSERT_EQ(refused.has_value(), row.refusedEdit != 0);
        if (!refused) continue;
        EXPECT_EQ(refused->field->control, row.refusedEdit);
        EXPECT_EQ(refused->message, "\"" + std::string(row.label) +
                                        "\" holds a pass mark above 100, which LMSs misread. Enter 0 to 100, or "
                                        "leave the box empty for none.");
    }
}
