#pragma once

#include <string>
#include <string_view>

enum class TestMode { Pretest, Assessment };
enum class ExitStatusMode { ScormConformant, CompletedIncomplete, PassedIncomplete, PassedNoPosttest };
enum class PackageType { Scorm12, Xapi, Scorm2004 };

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
    // A rewritten manifest keeps the bundle's item and resource identifiers, so
    // that an LMS takes a re-upload as the same course.
    bool keepIdentifiers = false;
    // Set by name only (no dialog control): the upload check warns of a
    // package larger than this many megabytes.
    int uploadSizeLimitMB = 500;
    // Set by name only: how many runs can be taken back; 0 keeps no record.
    int keepUndoRuns = 5;
};

// The wide-to-integer conversion of an edit text: leading blanks skipped, an
// optional sign, decimal digits up to the first other character, clamped to
// 32 bits; no leading digits gives 0.
int ConvertEditText(std::string_view text);
