#pragma once

#include <QDialog>
#include <QHash>

#include "settings/CourseSettings.h"

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;

// The course configuration dialog: OK fills `settings`, Cancel leaves it.
class CCustomCourse : public QDialog {
public:
    explicit CCustomCourse(QWidget* parent = nullptr);

    CourseSettings settings;

    // OK: reads the controls into `settings`, then closes with Accepted.
    void accept() override;

protected:
    bool OnInitDialog();
    void OnClickedPretest();
    void OnClickedAssessment();
    void OnOK();

private:
    QAbstractButton* Button(int id) const;
    QLineEdit* Edit(int id) const;
    bool IsChecked(int id) const;

    QHash<int, QWidget*> m_controls;
    QCheckBox* m_autoSkip = nullptr;  // 1013
    QLabel* m_countLabel = nullptr;   // 1014
    QLabel* m_scoreLabel = nullptr;   // 1015
};
