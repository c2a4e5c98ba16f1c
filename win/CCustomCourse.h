#pragma once

#include "settings/SettingsFields.h"
#include "win/TemplateDialog.h"

// The course configuration dialog on the native dialog manager: OK fills
// `settings` (a value it refuses is named in a message box, and the dialog
// stays open), Cancel (the button, Esc, the close box) leaves it. "Undo last
// run…" leaves it too, and closes with kUndoLastRunButton as the result.
class CCustomCourse : public TemplateDialog {
public:
    CCustomCourse();

    CourseSettings settings;

    // Whether a checkbox or radio is ticked or selected.
    bool IsChecked(int id) const;

protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int notification) override;
    void OnClickedPretest();
    void OnClickedAssessment();
    void OnOK();

private:
    // A click on a radio selects it and clears the others of its group only.
    void SelectRadio(int id);
    // The click handlers' common part: the record's test mode and what the dialog shows for it.
    void ShowTestMode(TestMode mode);
    // What every checkbox, radio and edit box of the template holds, by id.
    SettingsControls ReadControls() const;
};
