#pragma once

#include "res/DialogTemplate.h"

// The main dialog: three buttons nobody ever gets to press.
inline constexpr int IDD_QUARVEL_DIALOG = 102;
inline constexpr int IDC_SELECT_FOLDER = 1001;

inline constexpr ControlTemplate kDialog102Controls[] = {
    {1, ControlKind::DefaultPushButton, "OK", 209, 179, 50, 14, nullptr},
    {2, ControlKind::PushButton, "Cancel", 263, 179, 50, 14, nullptr},
    {IDC_SELECT_FOLDER, ControlKind::PushButton, "select folder", 119, 93, 80, 14, nullptr},
};

inline constexpr DialogTemplate kDialog102{IDD_QUARVEL_DIALOG, "Quarvel", 320, 200, kDialog102Controls};
