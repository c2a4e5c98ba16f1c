#pragma once

#include <string>
#include <string_view>

#include "settings/CourseSettings.h"

// NAME=VALUE pairs that set the settings dialog's controls, for runs without
// a display. NAME is a CourseSettings field name; VALUE is what the control
// would hold: edit text for numbers, true/false for flags, the value's name
// for testMode, exitStatusMode and packageType.

// True when NAME is a settings field name.
bool IsSettingsName(std::string_view name);

// Sets the control of NAME. Returns an empty text, or what is wrong.
std::string ApplySettingsPair(SettingsControls& controls, std::string_view name, std::string_view value);

// Applies the NAME=VALUE lines of a settings file (blank lines and lines
// starting with '#' ignored). Returns an empty text, or the first problem
// with the file name and line number.
std::string ApplySettingsText(SettingsControls& controls, std::string_view text, const std::string& fileName);
