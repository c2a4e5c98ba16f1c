#pragma once

// What the settings dialog's tests on both desktop front ends share: the
// template's controls by kind, and how a record is compared.
#include <string>

#include "settings/SettingsFields.h"

namespace dialogcases {

inline constexpr int kRadios[] = {1003, 1011, 1012, 1006, 1022, 1027, 1028, 1044, 1045, 1052};
inline constexpr int kCheckboxes[] = {1013, 1016, 1041, 1047, 1018, 1025, 1026, 1033,
                                      1046, 1048, 1034, 1024, 1040, 1043, 1042, 1051};
inline constexpr int kEdits[] = {1007, 1008, 1009, 1010, 1019, 1021};

// Every field, so that a mismatch shows all of them side by side.
inline std::string Describe(const CourseSettings& s) {
    std::string text;
    for (const SettingsField& field : SettingsFields()) {
        text += std::string(field.name) + "=" + FieldValueText(s, field) + " ";
    }
    return text;
}

// What OK gives when nothing was touched.
inline CourseSettings Untouched() {
    CourseSettings s;
    s.fullScreenAtStartup = "normal";
    return s;
}

}  // namespace dialogcases
