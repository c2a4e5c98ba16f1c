#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "settings/CourseSettings.h"

// The fields of CourseSettings, one row each, with the control of the settings
// dialog that sets them. The dialog's OK handling, the batch program's NAME=VALUE
// parser and its help text all walk this table, so an option is added by adding
// its member to the record and its row here (and its control to the template).

// Id of a field that no control sets.
inline constexpr int kNoControl = 0;

// A NUMBER given by name is 1 to 9 digits: a count or a score, never a sign,
// and never more than a 32-bit field holds.
inline constexpr std::size_t kMostNumberDigits = 9;
inline constexpr int kLargestNumber = 999'999'999;

// How a control sets its field at OK.
enum class FieldKind {
    Number,  // an edit box (or, batch-only, a text of its own): through ConvertEditText; empty keeps the field
    Flag,    // a checkbox: ticked or cleared (true or false, or one of two texts)
    Choice,  // a group of radios, one per value
};

// Where a Choice field's value comes from.
enum class ChoiceSource {
    SelectedRadio,  // read at OK: the first selected radio of the non-fallback values
    LastClick,      // set by the radios' click handlers, not read at OK
};

// What Assessment mode (the Assessment / ADL radio selected at OK) does to a field.
enum class InAssessment {
    Read,         // nothing special
    OnlyThen,     // read at OK only in Assessment mode, otherwise the field keeps its default
    CopyPretest,  // replaced by the value of `copyOf`
};

// One value of a Flag or Choice field, as a NAME=VALUE pair spells it.
struct FieldValue {
    std::string_view name;
    int value;               // the flag (0 or 1) or the enumerator
    int radio = kNoControl;  // Choice: the radio that selects it
};

using FieldMember =
    std::variant<int CourseSettings::*, bool CourseSettings::*, std::string CourseSettings::*,
                 TestMode CourseSettings::*, ExitStatusMode CourseSettings::*, PackageType CourseSettings::*>;

struct SettingsField {
    std::string_view name;  // the member's name
    FieldKind kind;
    FieldMember member;
    int control = kNoControl;  // the edit box or checkbox; Choice fields have their radios in `values`
    // Number without a control: set only by NAME=VALUE. The dialog leaves it
    // at its default.
    bool batchOnly = false;
    std::span<const FieldValue> values = {};  // Flag and Choice: the VALUE spellings, in help order
    // Number: the edit box's text when the dialog opens.
    std::string_view openingText = {};
    // Flag on a text member: the texts for a cleared and a ticked checkbox.
    std::string_view clearedText = {};
    std::string_view tickedText = {};
    // Choice: the value taken when none of the other values' radios is selected.
    int fallback = 0;
    ChoiceSource source = ChoiceSource::SelectedRadio;
    InAssessment inAssessment = InAssessment::Read;
    int CourseSettings::*copyOf = nullptr;  // InAssessment::CopyPretest
    std::string_view note = {};             // one line for the help text, or empty
    // Number: the largest value taken by name; one below kLargestNumber (a
    // pass mark's 100) is the field's own limit, which OK enforces too,
    // naming the field by `label`.
    int maximum = kLargestNumber;
    std::string_view label = {};
};

// Every field of CourseSettings, in the record's order.
std::span<const SettingsField> SettingsFields();
// The field named `name`, or nullptr.
const SettingsField* FindSettingsField(std::string_view name);

// The field as one integer: the number, the flag as 0 or 1 (a text flag is 1
// when it holds its ticked text), or the enumerator.
int ReadField(const CourseSettings& settings, const SettingsField& field);
void WriteField(CourseSettings& settings, const SettingsField& field, int value);

// A field's value in the NAME=VALUE spelling: a number, true/false, or the
// name of the enumerator. A text flag holding neither of its texts (the
// record before OK) gives that text as it is.
std::string FieldValueText(const CourseSettings& settings, const SettingsField& field);
// What a VALUE may be: "NUMBER", "true|false", "Pretest|Assessment", ...
std::string FieldValueChoices(const SettingsField& field);
// What is wrong with `text` as a NUMBER given by name for `field` (1 to 9
// digits, nothing else, and at most the field's maximum; empty keeps the
// default), in words that follow "expected": empty when it is good.
std::string CheckNumberText(const SettingsField& field, std::string_view text);

// Controls of the dialog's template that set no field, with the reason.
struct NonFieldControl {
    int id;
    std::string_view why;
};
std::span<const NonFieldControl> NonFieldControls();

// The dialog's radio groups: selecting a radio clears only the others of its group.
std::vector<std::vector<int>> SettingsRadioGroups();

// --- Test mode: the radios' click handlers ---

// The radio that selects `mode`.
int TestModeRadio(TestMode mode);
// The radio whose selection at OK means Assessment mode.
int AssessmentRadio();

// The "Undo last run…" push button closes the dialog with its own id as the
// result: the run then takes back the last run instead of starting one.
inline constexpr int kUndoLastRunButton = 1053;

inline constexpr int kAutoSkipCheckbox = 1013;
inline constexpr int kQuestionCountLabel = 1014;
inline constexpr int kPassingScoreLabel = 1015;

// What a click on a test-mode radio shows: the auto-skip checkbox (which
// keeps its tick when hidden) and the two relabelled texts.
struct TestModeView {
    bool autoSkipShown;
    std::string_view questionCountLabel;
    std::string_view passingScoreLabel;
};
TestModeView ViewOfTestMode(TestMode mode);

// What the settings dialog's controls hold, by control id. A default-made one
// holds them as the dialog opens: the default radios selected, every checkbox
// cleared, "60" in Course Timeout and every other edit box empty.
// Batch-only numbers have no control: their texts are kept by field name, so
// that no two of them share a place.
struct SettingsControls {
    SettingsControls();
    std::set<int> selected;                                          // ticked checkboxes and selected radios
    std::map<int, std::string> editTexts;                            // edit box id -> text
    std::map<std::string, std::string, std::less<>> batchOnlyTexts;  // batch-only field name -> text

    bool IsSelected(int id) const { return selected.contains(id); }
    std::string_view EditText(int id) const;
    void SetSelected(int id, bool on);
    // The text a Number field is read from: its edit box's, or its own when batch-only.
    std::string_view NumberText(const SettingsField& field) const;
    void SetNumberText(const SettingsField& field, std::string text);
};

// The OK rules, walking the table of settings fields: reads the controls into
// `settings`, the dialog's record (its defaults, and the test mode its radios'
// click handlers set). Empty edits keep the field, Assessment mode copies the
// pretest values and reads auto-skip, enableReverse stays false.
void ApplyOkRules(const SettingsControls& controls, CourseSettings& settings);
// The record OK gives when the test-mode radio selected in `controls` was the
// last one clicked.
CourseSettings ApplyOkRules(const SettingsControls& controls);

// An edit box whose value OK refuses: a pass mark above 100 makes a manifest
// that LMSs misread. Pasted text is converted first, as OK converts it.
struct RefusedOkValue {
    const SettingsField* field;
    std::string message;  // for a message box: names the box by its label
};
// The first edit box, in the fields' order, whose value is above its field's
// maximum; nothing when OK may go ahead.
std::optional<RefusedOkValue> FindRefusedOkValue(const SettingsControls& controls);
// The caption of the message box that says why OK was refused.
inline constexpr const char* kRefusedOkCaption = "Quarvel";
