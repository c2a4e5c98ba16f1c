#include "win/CCustomCourse.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "res/Dialog131.h"
#include "settings/SettingsFields.h"
#include "win/DialogTemplateBytes.h"
#include "win/WinText.h"

CCustomCourse::CCustomCourse() : TemplateDialog(kDialog131, kDialogFrameStyle, 0) {}

bool CCustomCourse::IsChecked(int id) const {
    return IsDlgButtonChecked(hwnd(), id) == BST_CHECKED;
}

bool CCustomCourse::OnInitDialog() {
    const SettingsControls opening;
    for (const ControlTemplate& control : kDialog131.controls) {
        if (control.kind == ControlKind::Radio || control.kind == ControlKind::Checkbox) {
            CheckDlgButton(hwnd(), control.id, opening.IsSelected(control.id) ? BST_CHECKED : BST_UNCHECKED);
        } else if (control.kind == ControlKind::Edit) {
            SetItemText(control.id, std::string(opening.EditText(control.id)));
        }
    }
    ShowWindow(Item(kAutoSkipCheckbox), SW_HIDE);
    settings = CourseSettings{};
    // OK, the template's first control, starts with the focus, although Tab
    // goes through the controls by position.
    SetFocus(Item(IDOK));
    return false;
}

bool CCustomCourse::OnCommand(int id, int notification) {
    if (id == IDOK) {
        OnOK();
        return true;
    }
    if (notification != BN_CLICKED) return false;
    if (id == kUndoLastRunButton) {
        Close(kUndoLastRunButton);
        return true;
    }
    const bool isRadio = std::any_of(kDialog131.controls.begin(), kDialog131.controls.end(),
                                     [id](const auto& c) { return c.id == id && c.kind == ControlKind::Radio; });
    if (!isRadio) return false;
    SelectRadio(id);
    if (id == TestModeRadio(TestMode::Pretest)) OnClickedPretest();
    if (id == TestModeRadio(TestMode::Assessment)) OnClickedAssessment();
    return true;
}

void CCustomCourse::SelectRadio(int id) {
    for (const std::vector<int>& group : SettingsRadioGroups()) {
        if (std::find(group.begin(), group.end(), id) == group.end()) continue;
        for (const int radio : group) CheckDlgButton(hwnd(), radio, radio == id ? BST_CHECKED : BST_UNCHECKED);
    }
}

void CCustomCourse::OnClickedPretest() {
    ShowTestMode(TestMode::Pretest);
}

void CCustomCourse::OnClickedAssessment() {
    ShowTestMode(TestMode::Assessment);
}

void CCustomCourse::ShowTestMode(TestMode mode) {
    settings.testMode = mode;
    const TestModeView view = ViewOfTestMode(mode);
    ShowWindow(Item(kAutoSkipCheckbox), view.autoSkipShown ? SW_SHOW : SW_HIDE);  // hidden, it keeps its tick
    SetItemText(kQuestionCountLabel, std::string(view.questionCountLabel));
    SetItemText(kPassingScoreLabel, std::string(view.passingScoreLabel));
}

SettingsControls CCustomCourse::ReadControls() const {
    SettingsControls controls;
    controls.selected.clear();
    for (const ControlTemplate& control : kDialog131.controls) {
        if (control.kind == ControlKind::Radio || control.kind == ControlKind::Checkbox) {
            controls.SetSelected(control.id, IsChecked(control.id));
        } else if (control.kind == ControlKind::Edit) {
            controls.editTexts[control.id] = ItemText(control.id);
        }
    }
    return controls;
}

void CCustomCourse::OnOK() {
    const SettingsControls controls = ReadControls();
    if (const std::optional<RefusedOkValue> refused = FindRefusedOkValue(controls)) {
        MessageBoxW(hwnd(), Widen(refused->message).c_str(), Widen(kRefusedOkCaption).c_str(),
                    MB_OK | MB_ICONEXCLAMATION);
        // The dialog stays open at the box to mend, its text selected.
        SendMessageW(hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(refused->field->control)), TRUE);
        return;
    }
    ApplyOkRules(controls, settings);
    Close(IDOK);
}
