#pragma once

#include "res/DialogTemplate.h"

// The course configuration dialog, control by control in tab order.
inline constexpr int IDD_CUSTOM_COURSE = 131;

inline constexpr const char* kGroupFileFormat = "File Format";
inline constexpr const char* kGroupTest = "Pretest / Assessment / ADL";
inline constexpr const char* kGroupPosttest = "Posttest";
inline constexpr const char* kGroupPlayback = "Playback settings";
inline constexpr const char* kGroupExitStatus = "Course EXIT status";
inline constexpr const char* kGroupScreenSize = "course screen size";
inline constexpr const char* kGroupScormType = "SCORM type";

inline constexpr ControlTemplate kDialog131Controls[] = {
    {1, ControlKind::DefaultPushButton, "OK", 104, 339, 50, 14, nullptr},
    {1003, ControlKind::Radio, "UTF-8 (Default Dorvane course)", 41, 39, 121, 10, kGroupFileFormat},
    {1007, ControlKind::Edit, "", 44, 120, 24, 13, kGroupTest},
    {1014, ControlKind::Label, "Pretest Qst Count", 72, 120, 106, 22, kGroupTest},
    {1008, ControlKind::Edit, "", 44, 201, 24, 13, kGroupPosttest},
    {kStaticId, ControlKind::Label, "Posttest Question Count", 73, 201, 86, 11, kGroupPosttest},
    {1009, ControlKind::Edit, "", 44, 145, 24, 13, kGroupTest},
    {1015, ControlKind::Label, "Pretest Passing Score", 72, 145, 91, 22, kGroupTest},
    {1010, ControlKind::Edit, "", 44, 217, 24, 13, kGroupPosttest},
    {kStaticId, ControlKind::Label, "Posttest Passing Score", 73, 220, 81, 11, kGroupPosttest},
    {1011, ControlKind::Radio, "Pretest", 43, 107, 38, 10, kGroupTest},
    {1012, ControlKind::Radio, "Assessment / ADL", 97, 106, 71, 12, kGroupTest},
    {1013, ControlKind::Checkbox, "Assessment / ADL - auto-skip", 44, 170, 121, 10, kGroupTest},
    {1016, ControlKind::Checkbox, "Allow video skip ahead", 237, 91, 89, 13, kGroupPlayback},
    {1041, ControlKind::Checkbox, "Show Navigation Bar", 237, 111, 100, 13, kGroupPlayback},
    {1047, ControlKind::Checkbox, "Accessibility - enable by default", 237, 131, 125, 13, kGroupPlayback},
    {1018, ControlKind::Checkbox, "Enable certificate printing", 237, 151, 99, 13, kGroupPlayback},
    {1025, ControlKind::Checkbox, "Skip Congratulations screen", 237, 213, 149, 13, kGroupPlayback},
    {1019, ControlKind::Edit, "", 237, 231, 18, 13, kGroupPlayback},
    {kStaticId, ControlKind::Label, "Course Timeout", 261, 234, 60, 11, kGroupPlayback},
    {2, ControlKind::PushButton, "Cancel", 160, 339, 50, 14, nullptr},
    {kStaticId, ControlKind::GroupBox, kGroupFileFormat, 29, 7, 152, 66, nullptr},
    {kStaticId, ControlKind::GroupBox, kGroupTest, 29, 91, 152, 91, nullptr},
    {kStaticId, ControlKind::GroupBox, kGroupPosttest, 29, 185, 151, 70, nullptr},
    {kStaticId, ControlKind::GroupBox, kGroupPlayback, 210, 74, 180, 211, nullptr},
    {1021, ControlKind::Edit, "", 44, 236, 24, 13, kGroupPosttest},
    {kStaticId, ControlKind::Label, "Posttest Retake Count", 73, 239, 81, 11, kGroupPosttest},
    {kStaticId, ControlKind::GroupBox, kGroupExitStatus, 201, 7, 188, 65, nullptr},
    {1006, ControlKind::Radio, "SCORM conformant ('passed', 'failed')", 209, 19, 162, 10, kGroupExitStatus},
    {1022, ControlKind::Radio, "('completed', 'incomplete')", 209, 32, 98, 10, kGroupExitStatus},
    {1027, ControlKind::Radio, "('passed', 'incomplete')", 209, 45, 88, 10, kGroupExitStatus},
    {1028, ControlKind::Radio, "('passed' with no posttest)", 209, 58, 98, 10, kGroupExitStatus},
    {1026, ControlKind::Checkbox, "delete BMP file in course folder", 29, 260, 122, 10, nullptr},
    {1033, ControlKind::Checkbox, "Update Course Descriptions from HTML file", 29, 290, 175, 10, nullptr},
    {1046, ControlKind::Checkbox, "Update Course Descriptions interface.xml", 29, 310, 175, 10, nullptr},
    {1048, ControlKind::Checkbox, "Update Course/VOD Description files from spreadsheet", 225, 330, 200, 10, nullptr},
    {1034, ControlKind::Checkbox, "Create VOD packages w/o video", 225, 306, 119, 10, nullptr},
    {1024, ControlKind::Checkbox, "Keep detailed bookmarking", 237, 171, 120, 10, kGroupPlayback},
    {kStaticId, ControlKind::GroupBox, kGroupScreenSize, 404, 7, 188, 54, nullptr},
    {1040, ControlKind::Checkbox, "full screen at startup", 412, 20, 110, 10, kGroupScreenSize, false},
    {1043, ControlKind::Checkbox, "enable Human Resourses setting", 412, 310, 123, 10, nullptr},
    {1042, ControlKind::Checkbox, "is Human Resourses", 432, 330, 123, 10, nullptr},
    {kStaticId, ControlKind::GroupBox, kGroupScormType, 404, 190, 190, 50, nullptr},
    {1044, ControlKind::Radio, "SCORM 1.2", 409, 200, 162, 10, kGroupScormType},
    {1045, ControlKind::Radio, "xAPI", 409, 213, 98, 10, kGroupScormType},
    {1049, ControlKind::Checkbox, "Write upload-ready .zip packages", 412, 255, 170, 10, nullptr},
    // Its letters are all taken by the controls before it: the schema version gives it a mnemonic.
    {1050, ControlKind::Checkbox, "Check generated files against the schemas", 225, 290, 250, 10, nullptr},
    // The upload packages' third type and their identifiers, with the way
    // back from the last run, in the right column's free room around the
    // SCORM type group.
    {1052, ControlKind::Radio, "SCORM 2004", 409, 226, 98, 10, kGroupScormType},
    {1051, ControlKind::Checkbox, "Keep item and resource identifiers", 412, 270, 170, 10, nullptr},
    {1053, ControlKind::PushButton, "Undo last run\u2026", 412, 168, 70, 14, nullptr},
};

inline constexpr DialogTemplate kDialog131{IDD_CUSTOM_COURSE, "course configuration", 599, 360, kDialog131Controls};
