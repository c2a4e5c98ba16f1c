#include "win/WinUser.h"

#include <chrono>

#include "app/PerUserInstall.h"
#include "platform/FileSystem.h"
#include "win/CCustomCourse.h"
#include "win/CDirDialog.h"
#include "win/ProgressWindow.h"
#include "win/WinText.h"

WinUser::WinUser() = default;

WinUser::~WinUser() = default;

std::optional<CourseSettings> WinUser::ChooseSettings() {
    CCustomCourse dialog;
    const INT_PTR result = dialog.DoModal(m_owner);
    m_undoLastRunChosen = result == kUndoLastRunButton;
    if (result != IDOK) return std::nullopt;
    return dialog.settings;
}

std::optional<std::string> WinUser::ChooseFolder(const std::string& captionText, const std::string& promptText) {
    CDirDialog picker;
    picker.captionText = captionText;
    picker.promptText = promptText;
    if (!picker.ChooseFolder()) return std::nullopt;
    return picker.chosenPath;
}

void WinUser::ShowMessage(const std::string& text, const std::string& caption, MessageStyle style) {
    // The styles are the message box flags already.
    MessageBoxW(m_owner, Widen(text).c_str(), Widen(caption).c_str(), static_cast<UINT>(style));
}

bool WinUser::AcceptPerUserInstall(const PerUserInstallOffer& offer) {
    return MessageBoxW(m_owner, Widen(PerUserInstallQuestion(offer)).c_str(), L"Quarvel",
                       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1 | MB_TOPMOST) == IDYES;
}

bool WinUser::AskYesNo(const std::string& text, const std::string& caption) {
    return MessageBoxW(m_owner, Widen(text).c_str(), Widen(caption).c_str(),
                       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1 | MB_TOPMOST) == IDYES;
}

void WinUser::SetProgressTotal(int total) {
    m_expected = total;
    m_started = GetTickCount64();
}

UserInterface::Progress WinUser::ReportProgress(int done, const std::string& currentFolder) {
    if (!m_progress) m_progress = std::make_unique<ProgressWindow>();
    if (m_started == 0) m_started = GetTickCount64();
    const auto elapsed = std::chrono::milliseconds(static_cast<long long>(GetTickCount64() - m_started));
    m_progress->Update(m_owner, DescribeProgress(done, m_expected, elapsed), platform::DisplayPath(currentFolder));
    // The job holds the thread until the next bundle: paint now and take the
    // input that came meanwhile.
    m_progress->PumpMessages();
    return m_progress->stopRequested() ? Progress::Stop : Progress::Continue;
}

void WinUser::EndProgress() {
    // The next job counts afresh.
    m_expected = kTotalUnknown;
    m_started = 0;
    m_progress.reset();
}
