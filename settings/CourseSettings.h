#pragma once

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
};

// What the settings dialog's controls hold when OK is pressed, as the dialog
// opens: default radios, every checkbox cleared, "60" in Course Timeout.
struct SettingsControls {
    // Edit texts.
    std::string pretestQuestionCount;   // 1007
    std::string posttestQuestionCount;  // 1008
    std::string pretestPassingScore;    // 1009
    std::string posttestPassingScore;   // 1010
    std::string courseTimeout = "60";   // 1019
    std::string posttestRetakeCount;    // 1021
    // Radios.
    TestMode testMode = TestMode::Pretest;  // follows the last click on 1011 / 1012
    bool assessmentRadioSelected = false;   // 1012
    ExitStatusMode exitStatus = ExitStatusMode::ScormConformant;
    PackageType packageType = PackageType::Scorm12;
    // Checkboxes.
    bool assessmentAutoSkip = false;  // 1013, hidden in Pretest mode
    bool allowVideoSkip = false;
    bool showNavBar = false;
    bool accessibilityDefault = false;
    bool certificatePrinting = false;
    bool skipCongratsScreen = false;
    bool isHr = false;
    bool enableHrSetting = false;
    bool deleteBmp = false;
    bool updateDescriptionsFromHtml = false;
    bool updateFromSpreadsheet = false;
    bool updateDescriptionsInInterfaceXml = false;
    bool createVodPackages = false;
    bool keepDetailedBookmarking = false;
    bool fullScreenAtStartup = false;
};

// The wide-to-integer conversion of an edit text: leading blanks skipped, an
// optional sign, decimal digits up to the first other character, clamped to
// 32 bits; no leading digits gives 0.
int ConvertEditText(std::string_view text);

// The OK rules: turns the controls into the record (empty edits keep their
// defaults, Assessment-mode copies, auto-skip only in Assessment mode,
// enableReverse always false).
CourseSettings ApplyOkRules(const SettingsControls& controls);
