#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>

enum class TestMode { Pretest, Assessment };
enum class ExitStatusMode { ScormConformant, CompletedIncomplete, PassedIncomplete, PassedNoPosttest };
enum class PackageType { Scorm12, Xapi };

// The options of one run, with the values the settings dialog opens with.
struct CourseSettings {
    int pretestQuestionCount = 0;
    int posttestQuestionCount = 0;
    int pretestPassingScore = -1;  // -1: none given
    int posttestPassingScore = -1;
    TestMode testMode = TestMode::Pretest;
    bool assessmentAutoSkip = true;
    int posttestRetakeCount = 0;
    bool allowVideoSkip = false;
    bool showNavBar = false;
    bool accessibilityDefault = false;
    bool enableReverse = false;
    bool certificatePrinting = false;
    int courseTimeout = 60;
    bool isHr = false;
    bool enableHrSetting = false;
    ExitStatusMode exitStatusMode = ExitStatusMode::ScormConformant;
    std::string fullScreenAtStartup;  // "full screen" or "normal" once OK was pressed
    bool skipCongratsScreen = false;
    bool deleteBmp = false;
    bool updateDescriptionsFromHtml = false;
    bool updateFromSpreadsheet = false;
    bool updateDescriptionsInInterfaceXml = false;
    bool createVodPackages = false;
    bool keepDetailedBookmarking = false;
    PackageType packageType = PackageType::Scorm12;
    // After the job: a zip of each patched bundle in the install folder's "upload packages" folder.
    bool zipPackages = false;
    // Each generated manifest and activity file checked against the shipped schemas.
    bool validatePackages = false;
};

// What the settings dialog's controls hold, by control id. A default-made one
// holds them as the dialog opens: the default radios selected, every checkbox
// cleared, "60" in Course Timeout and every other edit box empty.
struct SettingsControls {
    SettingsControls();
    std::set<int> selected;                // ticked checkboxes and selected radios
    std::map<int, std::string> editTexts;  // edit box id -> text

    bool IsSelected(int id) const { return selected.contains(id); }
    std::string_view EditText(int id) const;
    void SetSelected(int id, bool on);
};

// The wide-to-integer conversion of an edit text: leading blanks skipped, an
// optional sign, decimal digits up to the first other character, clamped to
// 32 bits; no leading digits gives 0.
int ConvertEditText(std::string_view text);

// The OK rules, walking the table of settings fields (settings/SettingsFields.h),
// which also defines SettingsControls: reads the controls into `settings`, the dialog's record (its
// defaults, and the test mode its radios' click handlers set). Empty edits keep
// the field, Assessment mode copies the pretest values and reads auto-skip,
// enableReverse stays false.
void ApplyOkRules(const SettingsControls& controls, CourseSettings& settings);
// The record OK gives when the test-mode radio selected in `controls` was the
// last one clicked.
CourseSettings ApplyOkRules(const SettingsControls& controls);
