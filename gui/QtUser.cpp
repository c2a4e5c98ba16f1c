#include "gui/QtUser.h"

#include <QCoreApplication>
#include <QMessageBox>

#include "app/PerUserInstall.h"
#include "gui/CCustomCourse.h"
#include "gui/CDirDialog.h"
#include "gui/ProgressWindow.h"
#include "gui/QtText.h"

QtUser::QtUser(QWidget* owner) : m_owner(owner) {}

QtUser::~QtUser() = default;

std::optional<CourseSettings> QtUser::ChooseSettings() {
    CCustomCourse dialog(m_owner);
    const int result = dialog.exec();
    m_undoLastRunChosen = result == kUndoLastRunButton;
    if (result != QDialog::Accepted) return std::nullopt;
    return dialog.settings;
}

std::optional<std::string> QtUser::ChooseFolder(const std::string& captionText, const std::string& promptText) {
    CDirDialog picker;
    picker.captionText = captionText;
    picker.promptText = promptText;
    if (!picker.ChooseFolder()) return std::nullopt;
    return picker.chosenPath;
}

void QtUser::ShowMessage(const std::string& text, const std::string& caption, MessageStyle style) {
    QMessageBox box(style == MessageStyle::Stop ? QMessageBox::Critical : QMessageBox::NoIcon, ToQString(caption),
                    ToQString(text), QMessageBox::Ok, m_owner);
    box.setObjectName(QStringLiteral("messageBox"));
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();
}

bool QtUser::AcceptPerUserInstall(const PerUserInstallOffer& offer) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Quarvel"), ToQString(PerUserInstallQuestion(offer)),
                    QMessageBox::Yes | QMessageBox::No, m_owner);
    box.setObjectName(QStringLiteral("perUserInstallQuestion"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    return box.exec() == QMessageBox::Yes;
}

bool QtUser::AskYesNo(const std::string& text, const std::string& caption) {
    QMessageBox box(QMessageBox::Question, ToQString(caption), ToQString(text), QMessageBox::Yes | QMessageBox::No,
                    m_owner);
    box.setObjectName(QStringLiteral("yesNoQuestion"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    return box.exec() == QMessageBox::Yes;
}

void QtUser::SetProgressTotal(int total) {
    m_expected = total;
    m_sinceStart.start();
}

UserInterface::Progress QtUser::ReportProgress(int done, const std::string& currentFolder) {
    if (!m_progress) m_progress = std::make_unique<ProgressWindow>(m_owner);
    if (!m_sinceStart.isValid()) m_sinceStart.start();
    m_progress->Update(DescribeProgress(done, m_expected, std::chrono::milliseconds(m_sinceStart.elapsed())),
                       currentFolder);
    // The job holds the thread until the next bundle: paint now and take the
    // input that came meanwhile. The progress window is modal, so the input
    // can only press its Stop button.
    QCoreApplication::processEvents();
    return m_progress->stopRequested() ? Progress::Stop : Progress::Continue;
}

void QtUser::EndProgress() {
    // The next job counts afresh.
    m_expected = kTotalUnknown;
    m_sinceStart.invalidate();
    if (!m_progress) return;
    m_progress->hide();
    m_progress.reset();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
