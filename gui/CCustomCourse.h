#pragma once

#include <QDialog>
#include <QHash>

#include "settings/SettingsFields.h"

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;

// The course configuration dialog: OK fills `settings`, Cancel leaves it.
// "Undo last run…" leaves it too, and closes with kUndoLastRunButton as the result.
class CCustomCourse : public QDialog {
public:
    explicit CCustomCourse(QWidget* parent = nullptr);

    CourseSettings settings;

    // OK: reads the controls into `settings`, then closes with Accepted; a
    // value OK refuses is named in a message box and the dialog stays open.
    void accept() override;

protected:
    bool OnInitDialog();
    void OnClickedPretest();
    void OnClickedAssessment();
    void OnOK();

private:
    QAbstractButton* Button(int id) const;
    // The click handlers' common part: the record's test mode and what the dialog shows for it.
    void ShowTestMode(TestMode mode);
    // What every checkbox, radio and edit box of the template holds, by id.
    SettingsControls ReadControls() const;

    QHash<int, QWidget*> m_controls;
    QCheckBox* m_autoSkip = nullptr;
    QLabel* m_countLabel = nullptr;
    QLabel* m_scoreLabel = nullptr;
};
