#pragma once

#include <windows.h>

#include <memory>

#include "app/UserInterface.h"
#include "bundle/CountBundles.h"

class ProgressWindow;

// The Windows desktop program's answers: the settings dialog, the shell's
// folder browser, message boxes owned by the main dialog, and a progress
// window.
class WinUser final : public UserInterface {
public:
    WinUser();
    ~WinUser() override;
    WinUser(const WinUser&) = delete;
    WinUser& operator=(const WinUser&) = delete;

    // The window that owns the message boxes and the run's dialogs.
    void SetOwner(HWND owner) { m_owner = owner; }

    std::optional<CourseSettings> ChooseSettings() override;
    bool UndoLastRunChosen() override { return m_undoLastRunChosen; }
    std::optional<std::string> ChooseFolder(const std::string& captionText, const std::string& promptText) override;
    void ShowMessage(const std::string& text, const std::string& caption, MessageStyle style) override;
    bool AcceptPerUserInstall(const PerUserInstallOffer& offer) override;
    bool AskYesNo(const std::string& text, const std::string& caption) override;
    void SetProgressTotal(int total) override;
    Progress ReportProgress(int done, const std::string& currentFolder) override;
    void EndProgress() override;

private:
    HWND m_owner = nullptr;
    std::unique_ptr<ProgressWindow> m_progress;
    bool m_undoLastRunChosen = false;
    int m_expected = kTotalUnknown;
    ULONGLONG m_started = 0;  // the job's start, for the time left
};
