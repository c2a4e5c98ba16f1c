#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "settings/SettingsFields.h"

// NAME=VALUE pairs that set the settings dialog's controls, for runs without
// a display. NAME is a CourseSettings field name; VALUE is what the control
// would hold: 1 to 9 digits for numbers (a pass mark at most 100; empty keeps
// the default), true/false for flags, the value's name for testMode,
// exitStatusMode and packageType. VALUE is taken as given; blanks around
// NAME are ignored.

// True when NAME is a settings field name.
bool IsSettingsName(std::string_view name);

// Sets the control of NAME. Returns an empty text, or what is wrong.
std::string ApplySettingsPair(SettingsControls& controls, std::string_view name, std::string_view value);

// Applies the NAME=VALUE lines of a settings file (a UTF-8 byte-order mark,
// blank lines, lines starting with '#' and blanks around NAME and VALUE
// ignored). Returns every problem, each as "FILE:LINE: what is wrong"; none
// when the whole file applied.
std::vector<std::string> ApplySettingsText(SettingsControls& controls, std::string_view text,
                                           const std::string& fileName);
