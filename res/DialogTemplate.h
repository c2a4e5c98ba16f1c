#pragma once

#include <span>

// A dialog laid out in dialog units, as its resource template describes it.
// Plain data: the desktop program turns it into widgets.
enum class ControlKind { DefaultPushButton, PushButton, Radio, Checkbox, Edit, Label, GroupBox };

// Id of a control the program never addresses (labels and group boxes).
inline constexpr int kStaticId = -1;

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* text;
    int x, y, width, height;  // dialog units
    const char* group;        // caption of the group box whose frame encloses it, or nullptr
    bool tabStop = true;      // buttons, radios, checkboxes and edits only
};

struct DialogTemplate {
    int id;
    const char* caption;
    int width, height;                          // dialog units
    std::span<const ControlTemplate> controls;  // in tab order
};
