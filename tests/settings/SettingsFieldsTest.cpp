#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <map>
#include <set>
#include <string_view>
#include <vector>

#include "res/Dialog131.h"
#include "settings/SettingsFields.h"

namespace {

// Converts to any member type; only used to count the members of an aggregate.
struct AnyMember {
    template <class T>
    operator T() const;  // NOLINT: never defined, only named in unevaluated operands
};

// The number of members of the aggregate T: the most initializers it takes.
template <class T, class... Given>
constexpr std::size_t CountMembers() {
    if constexpr (requires { T{Given{}..., AnyMember{}}; }) {
        return CountMembers<T, Given..., AnyMember>();
    } else {
        return sizeof...(Given);
    }
}

std::ptrdiff_t OffsetOf(const SettingsField& field) {
    static const CourseSettings record;
    const auto* base = reinterpret_cast<const char*>(&record);
    return std::visit([&](auto member) { return reinterpret_cast<const char*>(&(record.*member)) - base; },
                      field.member);
}

const ControlTemplate* FindControl(int id) {
    for (const ControlTemplate& control : kDialog131.controls) {
        if (control.id == id) return &control;
    }
    return nullptr;
}

}  // namespace

TEST(SettingsFieldsTest, EveryRecordFieldIsInTheTableOnceInTheRecordsOrder) {
    const auto fields = SettingsFields();
    EXPECT_EQ(fields.size(), CountMembers<CourseSettings>());
    std::set<std::string_view> names;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        SCOPED_TRACE(fields[i].name);
        EXPECT_TRUE(names.insert(fields[i].name).second) << "name listed twice";
        EXPECT_EQ(FindSettingsField(fields[i].name), &fields[i]);
        // Increasing offsets: no member twice, and the help lists them as the record does.
        if (i > 0) {
            EXPECT_GT(OffsetOf(fields[i]), OffsetOf(fields[i - 1]));
        }
    }
    EXPECT_EQ(FindSettingsField("colour"), nullptr);
}

TEST(SettingsFieldsTest, EveryDialogControlMapsToAFieldOrADocumentedNonField) {
    // What sets each control id: the field of an edit box or checkbox, or the
    // field and value of a radio.
    std::map<int, ControlKind> mapped;
    for (const SettingsField& field : SettingsFields()) {
        SCOPED_TRACE(field.name);
        // Only a number may be batch-only, and then it has no control.
        EXPECT_TRUE(!field.batchOnly || field.kind == FieldKind::Number);
        switch (field.kind) {
            case FieldKind::Number:
                if (field.batchOnly) {
                    EXPECT_EQ(field.control, kNoControl);
                    break;
                }
                ASSERT_NE(field.control, kNoControl);
                EXPECT_TRUE(mapped.emplace(field.control, ControlKind::Edit).second);
                break;
            case FieldKind::Flag:
                EXPECT_EQ(field.values.size(), 2u);
                if (field.control != kNoControl) {
                    EXPECT_TRUE(mapped.emplace(field.control, ControlKind::Checkbox).second);
                }
                break;
            case FieldKind::Choice:
                EXPECT_EQ(field.control, kNoControl);
                EXPECT_GE(field.fallback, 0);
                EXPECT_LT(field.fallback, static_cast<int>(field.values.size()));
                for (const FieldValue& value : field.values) {
                    EXPECT_TRUE(mapped.emplace(value.radio, ControlKind::Radio).second) << value.name;
                }
                break;
        }
    }
    for (const NonFieldControl& control : NonFieldControls()) {
        SCOPED_TRACE(control.id);
        EXPECT_FALSE(control.why.empty());
        ASSERT_NE(FindControl(control.id), nullptr);
        EXPECT_TRUE(mapped.emplace(control.id, FindControl(control.id)->kind).second);
    }
    // Each id of the table is a control of that kind in the template...
    for (const auto& [id, kind] : mapped) {
        SCOPED_TRACE(id);
        const ControlTemplate* control = FindControl(id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->kind, kind);
    }
    // ...and every checkbox, edit box and radio of the template is one of them.
    for (const ControlTemplate& control : kDialog131.controls) {
        if (control.kind != ControlKind::Checkbox && control.kind != ControlKind::Edit &&
            control.kind != ControlKind::Radio) {
            continue;
        }
        EXPECT_TRUE(mapped.contains(control.id)) << control.id << " " << control.text;
    }
    for (const int label : {kQuestionCountLabel, kPassingScoreLabel}) {
        ASSERT_NE(FindControl(label), nullptr);
        EXPECT_EQ(FindControl(label)->kind, ControlKind::Label);
    }
}

TEST(SettingsFieldsTest, EachRadioGroupLiesInOneGroupBoxOfTheTemplate) {
    std::set<int> grouped;
    for (const std::vector<int>& group : SettingsRadioGroups()) {
        ASSERT_FALSE(group.empty());
        const ControlTemplate* first = FindControl(group.front());
        ASSERT_NE(first, nullptr);
        ASSERT_NE(first->group, nullptr);
        for (const int id : group) {
            SCOPED_TRACE(id);
            EXPECT_TRUE(grouped.insert(id).second);
            ASSERT_NE(FindControl(id), nullptr);
            EXPECT_EQ(FindControl(id)->kind, ControlKind::Radio);
            EXPECT_STREQ(FindControl(id)->group, first->group);
        }
    }
    for (const ControlTemplate& control : kDialog131.controls) {
        if (control.kind == ControlKind::Radio) {
            EXPECT_TRUE(grouped.contains(control.id)) << control.id;
        }
    }
    EXPECT_EQ(TestModeRadio(TestMode::Assessment), AssessmentRadio());
}

TEST(SettingsFieldsTest, EveryValueIsWrittenToAndReadFromItsMember) {
    for (const SettingsField& field : SettingsFields()) {
        SCOPED_TRACE(field.name);
        if (field.kind == FieldKind::Number) {
            for (const int number : {0, -1, 42, 2147483647}) {
                CourseSettings s;
                WriteField(s, field, number);
                EXPECT_EQ(ReadField(s, field), number);
                EXPECT_EQ(FieldValueText(s, field), std::to_string(number));
            }
            EXPECT_EQ(FieldValueChoices(field), "NUMBER");
            continue;
        }
        std::string choices;
        for (const FieldValue& value : field.values) {
            CourseSettings s;
            WriteField(s, field, value.value);
            EXPECT_EQ(ReadField(s, field), value.value) << value.name;
            EXPECT_EQ(FieldValueText(s, field), value.name);
            choices += (choices.empty() ? "" : "|") + std::string(value.name);
        }
        EXPECT_EQ(FieldValueChoices(field), choices);
    }
    // The full-screen text is empty until OK; it is shown as it is.
    const SettingsField* screen = FindSettingsField("fullScreenAtStartup");
    ASSERT_NE(screen, nullptr);
    CourseSettings s;
    EXPECT_EQ(FieldValueText(s, *screen), "");
    WriteField(s, *screen, 1);
    EXPECT_EQ(s.fullScreenAtStartup, "full screen");
    WriteField(s, *screen, 0);
    EXPECT_EQ(s.fullScreenAtStartup, "normal");
}

TEST(SettingsFieldsTest, TheTestModeRadiosShowAutoSkipAndRelabelOnlyInAssessmentMode) {
    const TestModeView pretest = ViewOfTestMode(TestMode::Pretest);
    const TestModeView assessment = ViewOfTestMode(TestMode::Assessment);
    EXPECT_FALSE(pretest.autoSkipShown);
    EXPECT_TRUE(assessment.autoSkipShown);
    EXPECT_EQ(pretest.questionCountLabel, "Pretest Question Count");
    EXPECT_EQ(pretest.passingScoreLabel, "Pretest Passing Score");
    EXPECT_EQ(assessment.questionCountLabel, "Postscriptive posttest question count (3-6)");
    EXPECT_EQ(assessment.passingScoreLabel, "Assessment / Prescriptive Posttest Passing Score");
}

TEST(SettingsDialogTemplateTest, TheUndoIdentifiersAndScorm2004ControlsSitInFreeRoomAroundTheScormTypeGroup) {
    struct Row {
        int id;
        ControlKind kind;
        std::string_view text;
        int x, y, width, height;
        const char* group;
    };
    const Row rows[] = {
        {1052, ControlKind::Radio, "SCORM 2004", 409, 226, 98, 10, kGroupScormType},
        {1051, ControlKind::Checkbox, "Keep item and resource identifiers", 412, 270, 170, 10, nullptr},
        {kUndoLastRunButton, ControlKind::PushButton, "Undo last run\u2026", 412, 168, 70, 14, nullptr},
    };
    const auto overlap = [](const auto& a, const auto& b) {
        return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.id);
        const ControlTemplate* control = FindControl(row.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->kind, row.kind);
        EXPECT_EQ(control->text, row.text);
        EXPECT_EQ(std::vector<int>({control->x, control->y, control->width, control->height}),
                  std::vector<int>({row.x, row.y, row.width, row.height}));
        EXPECT_TRUE(control->tabStop);
        EXPECT_LE(row.x + row.width, kDialog131.width);
        EXPECT_LE(row.y + row.height, kDialog131.height);
        for (const ControlTemplate& other : kDialog131.controls) {
            if (&other == control) continue;
            SCOPED_TRACE(other.text);
            if (other.kind != ControlKind::GroupBox) {
                EXPECT_FALSE(overlap(*control, other));
            } else if (row.group != nullptr && std::string_view(other.text) == row.group) {
                // Inside its group's frame, below the title line.
                EXPECT_TRUE(row.x > other.x && row.y > other.y + 5 && row.x + row.width < other.x + other.width &&
                            row.y + row.height < other.y + other.height);
            } else {
                EXPECT_FALSE(overlap(*control, other)) << "inside a group box not its own";
            }
        }
    }
    // The dialog keeps its size and its other controls: the template grew by
    // exactly these three.
    EXPECT_EQ(kDialog131.width, 599);
    EXPECT_EQ(kDialog131.height, 360);
    EXPECT_EQ(kDialog131.controls.size(), 50u);
}
