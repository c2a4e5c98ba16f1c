#include "gui/CCustomCourse.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <optional>

#include "gui/DialogBuilder.h"
#include "gui/QtText.h"
#include "res/Dialog131.h"
#include "settings/SettingsFields.h"

CCustomCourse::CCustomCourse(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CCustomCourse"));
    m_controls = BuildDialogFromTemplate(*this, kDialog131);
    m_autoSkip = static_cast<QCheckBox*>(m_controls.value(kAutoSkipCheckbox));
    m_countLabel = static_cast<QLabel*>(m_controls.value(kQuestionCountLabel));
    m_scoreLabel = static_cast<QLabel*>(m_controls.value(kPassingScoreLabel));

    // Radios that clear each other; every group is independent of the others.
    for (const std::vector<int>& radios : SettingsRadioGroups()) {
        auto* group = new QButtonGroup(this);
        for (const int id : radios) group->addButton(Button(id), id);
    }

    connect(Button(TestModeRadio(TestMode::Pretest)), &QAbstractButton::clicked, this, [this] { OnClickedPretest(); });
    connect(Button(TestModeRadio(TestMode::Assessment)), &QAbstractButton::clicked, this,
            [this] { OnClickedAssessment(); });
    connect(Button(1), &QAbstractButton::clicked, this, &CCustomCourse::accept);
    connect(Button(2), &QAbstractButton::clicked, this, &QDialog::reject);
    connect(Button(kUndoLastRunButton), &QAbstractButton::clicked, this, [this] { done(kUndoLastRunButton); });

    OnInitDialog();
}

QAbstractButton* CCustomCourse::Button(int id) const {
    return static_cast<QAbstractButton*>(m_controls.value(id));
}

bool CCustomCourse::OnInitDialog() {
    const SettingsControls opening;
    for (auto it = m_controls.cbegin(); it != m_controls.cend(); ++it) {
        if (auto* button = qobject_cast<QAbstractButton*>(it.value()); button != nullptr && button->isCheckable()) {
            button->setChecked(opening.IsSelected(it.key()));
        } else if (auto* edit = qobject_cast<QLineEdit*>(it.value())) {
            edit->setText(ToQString(opening.EditText(it.key())));
        }
    }
    m_autoSkip->setVisible(false);
    settings = CourseSettings{};
    // OK, the template's first control, starts with the focus.
    Button(1)->setFocus();
    return true;
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
    m_autoSkip->setVisible(view.autoSkipShown);  // hidden, it keeps its tick
    m_countLabel->setText(ToQString(view.questionCountLabel));
    m_scoreLabel->setText(ToQString(view.passingScoreLabel));
}

void CCustomCourse::accept() {
    OnOK();
}

SettingsControls CCustomCourse::ReadControls() const {
    SettingsControls controls;
    controls.selected.clear();
    for (auto it = m_controls.cbegin(); it != m_controls.cend(); ++it) {
        if (auto* button = qobject_cast<QAbstractButton*>(it.value()); button != nullptr && button->isCheckable()) {
            controls.SetSelected(it.key(), button->isChecked());
        } else if (auto* edit = qobject_cast<QLineEdit*>(it.value())) {
            controls.editTexts[it.key()] = ToStdString(edit->text());
        }
    }
    return controls;
}

void CCustomCourse::OnOK() {
    const SettingsControls controls = ReadControls();
    if (const std::optional<RefusedOkValue> refused = FindRefusedOkValue(controls)) {
        QMessageBox box(QMessageBox::Warning, ToQString(kRefusedOkCaption), ToQString(refused->message),
                        QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("refusedValueBox"));
        box.exec();
        // The dialog stays open at the box to mend.
        if (auto* edit = qobject_cast<QLineEdit*>(m_controls.value(refused->field->control))) {
            edit->setFocus(Qt::OtherFocusReason);
            edit->selectAll();
        }
        return;
    }
    ApplyOkRules(controls, settings);
    QDialog::accept();
}
