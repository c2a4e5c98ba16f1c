#include "win/DialogTemplateBytes.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "res/TabOrderByPosition.h"
#include "win/WinText.h"

WORD ControlClassAtom(ControlKind kind) {
    switch (kind) {
        case ControlKind::Edit:
            return kEditAtom;
        case ControlKind::Label:
            return kStaticAtom;
        case ControlKind::DefaultPushButton:
        case ControlKind::PushButton:
        case ControlKind::Radio:
        case ControlKind::Checkbox:
        case ControlKind::GroupBox:
            break;
    }
    return kButtonAtom;
}

namespace {

bool IsTabStop(const ControlTemplate& control) {
    return control.tabStop && control.kind != ControlKind::Label && control.kind != ControlKind::GroupBox;
}

}  // namespace

DWORD ControlStyle(const ControlTemplate& control) {
    DWORD style = WS_CHILD | WS_VISIBLE;
    if (IsTabStop(control)) style |= WS_TABSTOP;
    switch (control.kind) {
        case ControlKind::DefaultPushButton:
            return style | BS_DEFPUSHBUTTON;
        case ControlKind::PushButton:
            return style | BS_PUSHBUTTON;
        case ControlKind::Radio:
            // The arrow keys select the radios of a group; the program keeps
            // the settings' radio groups on a click too.
            return style | BS_AUTORADIOBUTTON;
        case ControlKind::Checkbox:
            return style | BS_AUTOCHECKBOX;
        case ControlKind::Edit:
            // Typed characters other than digits are refused; pasted text goes in as it is.
            return style | WS_BORDER | ES_LEFT | ES_AUTOHSCROLL | ES_NUMBER;
        case ControlKind::Label:
            return style | SS_LEFT;
        case ControlKind::GroupBox:
            return style | BS_GROUPBOX;
    }
    return style;
}

namespace {

bool InSameRadioGroup(const ControlTemplate& a, const ControlTemplate& b) {
    return a.kind == ControlKind::Radio && b.kind == ControlKind::Radio && a.group && b.group &&
           std::string_view(a.group) == b.group;
}

}  // namespace

std::vector<TemplateItem> TemplateItems(std::span<const ControlTemplate> controls) {
    std::vector<std::size_t> stops;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (IsTabStop(controls[i])) stops.push_back(i);
    }
    stops = TabOrderByPosition(controls, std::move(stops));
    std::vector<std::size_t> order;
    std::vector<bool> placed(controls.size(), false);
    for (const std::size_t stop : stops) {
        if (placed[stop]) continue;
        for (const std::size_t other : stops) {
            if (other == stop || (!placed[other] && InSameRadioGroup(controls[stop], controls[other]))) {
                order.push_back(other);
                placed[other] = true;
            }
        }
    }
    for (const bool frames : {false, true}) {
        for (std::size_t i = 0; i < controls.size(); ++i) {
            if (!placed[i] && (controls[i].kind == ControlKind::GroupBox) == frames) order.push_back(i);
        }
    }
    std::vector<TemplateItem> items;
    for (const std::size_t index : order) {
        DWORD style = ControlStyle(controls[index]);
        if (items.empty() || !InSameRadioGroup(controls[items.back().index], controls[index])) style |= WS_GROUP;
        items.push_back({index, style});
    }
    return items;
}

namespace {

class TemplateWriter {
public:
    void Word(WORD value) { m_words.push_back(value); }
    void Dword(DWORD value) {
        Word(LOWORD(value));
        Word(HIWORD(value));
    }
    void Text(std::wstring_view text) {
        for (const wchar_t c : text) Word(static_cast<WORD>(c));
        Word(0);
    }
    void AlignToDword() {
        if (m_words.size() % 2 != 0) Word(0);
    }
    std::vector<WORD> Take() { return std::move(m_words); }

private:
    std::vector<WORD> m_words;
};

}  // namespace

std::vector<WORD> BuildDialogTemplateBytes(const DialogTemplate& dialog, DWORD style, DWORD exStyle) {
    TemplateWriter out;
    out.Dword(style | DS_SETFONT);
    out.Dword(exStyle);
    out.Word(static_cast<WORD>(dialog.controls.size()));
    for (const int value : {0, 0, dialog.width, dialog.height}) out.Word(static_cast<WORD>(value));
    out.Word(0);  // no menu
    out.Word(0);  // the predefined dialog class
    out.Text(Widen(dialog.caption));
    out.Word(kDialogFontPoints);
    out.Text(kDialogFontName);
    for (const TemplateItem& item : TemplateItems(dialog.controls)) {
        const ControlTemplate& control = dialog.controls[item.index];
        out.AlignToDword();
        out.Dword(item.style);
        out.Dword(0);
        for (const int value : {control.x, control.y, control.width, control.height}) {
            out.Word(static_cast<WORD>(value));
        }
        out.Word(static_cast<WORD>(control.id));  // kStaticId becomes 0xFFFF, the id of unaddressed statics
        out.Word(0xFFFF);
        out.Word(ControlClassAtom(control.kind));
        out.Text(Widen(control.text));
        out.Word(0);  // no creation data
    }
    return out.Take();
}
