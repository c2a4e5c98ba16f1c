#include "settings/CCustomCourse.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

#include "app/QtText.h"
#include "res/Dialog131.h"
#include "res/DialogBuilder.h"

namespace {

// Radios that clear each other; every group is independent of the others.
constexpr int kFileFormatRadios[] = {1003};
constexpr int kTestModeRadios[] = {1011, 1012};
constexpr int kExitStatusRadios[] = {1006, 1022, 1027, 1028};
constexpr int kPackageTypeRadios[] = {1044, 1045};

}  // namespace

CCustomCourse::CCustomCourse(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CCustomCourse"));
    m_controls = BuildDialogFromTemplate(*this, kDialog131);
    m_autoSkip = static_cast<QCheckBox*>(m_controls.value(1013));
    m_countLabel = static_cast<QLabel*>(m_controls.value(1014));
    m_scoreLabel = static_cast<QLabel*>(m_controls.value(1015));

    const auto makeGroup = [this](std::span<const int> ids) {
        auto* group = new QButtonGroup(this);
        for (const int id : ids) group->addButton(Button(id), id);
    };
    makeGroup(kFileFormatRadios);
    makeGroup(kTestModeRadios);
    makeGroup(kExitStatusRadios);
    makeGroup(kPackageTypeRadios);

    connect(Button(1011), &QAbstractButton::clicked, this, [this] { OnClickedPretest(); });
    connect(Button(1012), &QAbstractButton::clicked, this, [this] { OnClickedAssessment(); });
    connect(Button(1), &QAbstractButton::clicked, this, &CCustomCourse::accept);
    connect(Button(2), &QAbstractButton::clicked, this, &QDialog::reject);

    OnInitDialog();
}

QAbstractButton* CCustomCourse::Button(int id) const {
    return static_cast<QAbstractButton*>(m_controls.value(id));
}

QLineEdit* CCustomCourse::Edit(int id) const {
    return static_cast<QLineEdit*>(m_controls.value(id));
}

bool CCustomCourse::IsChecked(int id) const {
    return Button(id)->isChecked();
}

bool CCustomCourse::OnInitDialog() {
    for (const int id : {1003, 1011, 1006, 1044}) Button(id)->setChecked(true);
    m_autoSkip->setVisible(false);
    settings = CourseSettings{};
    Edit(1019)->setText(QStringLiteral("60"));
    // The first tab stop, the OK button, starts with the focus.
    Button(1)->setFocus();
    return true;
}

void CCustomCourse::OnClickedPretest() {
    settings.testMode = TestMode::Pretest;
    m_autoSkip->setVisible(false);  // it keeps its tick
    m_countLabel->setText(QStringLiteral("Pretest Question Count"));
    m_scoreLabel->setText(QStringLiteral("Pretest Passing Score"));
}

void CCustomCourse::OnClickedAssessment() {
    settings.testMode = TestMode::Assessment;
    m_autoSkip->setVisible(true);
    m_countLabel->setText(QStringLiteral("Postscriptive posttest question count (3-6)"));
    m_scoreLabel->setText(QStringLiteral("Assessment / Prescriptive Posttest Passing Score"));
}

void CCustomCourse::accept() {
    OnOK();
}

void CCustomCourse::OnOK() {
    SettingsControls controls;
    controls.testMode = settings.testMode;
    controls.allowVideoSkip = IsChecked(1016);
    controls.showNavBar = IsChecked(1041);
    controls.accessibilityDefault = IsChecked(1047);
    controls.certificatePrinting = IsChecked(1018);
    controls.skipCongratsScreen = IsChecked(1025);
    controls.isHr = IsChecked(1042);
    controls.enableHrSetting = IsChecked(1043);
    controls.packageType = IsChecked(1044) ? PackageType::Scorm12 : PackageType::Xapi;
    controls.deleteBmp = IsChecked(1026);
    controls.updateDescriptionsFromHtml = IsChecked(1033);
    controls.updateFromSpreadsheet = IsChecked(1048);
    controls.updateDescriptionsInInterfaceXml = IsChecked(1046);
    controls.createVodPackages = IsChecked(1034);
    controls.keepDetailedBookmarking = IsChecked(1024);
    controls.courseTimeout = ToStdString(Edit(1019)->text());
    controls.pretestPassingScore = ToStdString(Edit(1009)->text());
    controls.pretestQuestionCount = ToStdString(Edit(1007)->text());
    controls.posttestPassingScore = ToStdString(Edit(1010)->text());
    controls.posttestQuestionCount = ToStdString(Edit(1008)->text());
    controls.posttestRetakeCount = ToStdString(Edit(1021)->text());
    if (IsChecked(1012)) {
        controls.assessmentRadioSelected = true;
        controls.assessmentAutoSkip = m_autoSkip->isChecked();
    }
    controls.exitStatus = IsChecked(1022)   ? ExitStatusMode::CompletedIncomplete
                          : IsChecked(1027) ? ExitStatusMode::PassedIncomplete
                          : IsChecked(1028) ? ExitStatusMode::PassedNoPosttest
                                            : ExitStatusMode::ScormConformant;
    controls.fullScreenAtStartup = IsChecked(1040);
    settings = ApplyOkRules(controls);
    QDialog::accept();
}
