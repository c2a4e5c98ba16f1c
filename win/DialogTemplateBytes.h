#pragma once

#include <windows.h>

#include <cstddef>
#include <span>
#include <vector>

#include "res/DialogTemplate.h"

// The frame of a dialog window: a modal frame with caption and system menu,
// the template's font, centred on the screen.
inline constexpr DWORD kDialogFrameStyle = DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;

// The dialog font, as the templates were drawn for it.
inline constexpr const wchar_t* kDialogFontName = L"MS Shell Dlg";
inline constexpr WORD kDialogFontPoints = 8;

// The class atoms of the predefined control classes.
inline constexpr WORD kButtonAtom = 0x0080;
inline constexpr WORD kEditAtom = 0x0081;
inline constexpr WORD kStaticAtom = 0x0082;

WORD ControlClassAtom(ControlKind kind);
// The control's window style, without WS_GROUP (TemplateItems gives that).
DWORD ControlStyle(const ControlTemplate& control);

// One control of the built template: its index in the template's controls
// and its window style.
struct TemplateItem {
    std::size_t index;
    DWORD style;
};

// The controls in the order of the built template, with their styles. The
// dialog manager tabs through the controls in template order, so the tab
// stops come first, as they are read: rows from top to bottom, each from left
// to right, a row being the controls whose top lies above the middle of the
// row's first (highest) one. The radios of one group box stay together, at
// the place of the first of them, as one group (WS_GROUP on the first only):
// Tab stops at the selected one and the arrow keys move between them. Every
// other control starts a group of its own. Then the controls without a tab
// stop in their order, group boxes last, so that a frame lies below the
// controls it encloses.
std::vector<TemplateItem> TemplateItems(std::span<const ControlTemplate> controls);

// The in-memory dialog template (DLGTEMPLATE and one DLGITEMTEMPLATE per
// control), in dialog units, with the dialog font, each
// item DWORD-aligned from the start, ready for the *IndirectParamW calls.
// The controls come in the order and with the styles of TemplateItems.
std::vector<WORD> BuildDialogTemplateBytes(const DialogTemplate& dialog, DWORD style, DWORD exStyle);
