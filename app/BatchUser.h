#pragma once

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "app/UserInterface.h"
#include "bundle/CountBundles.h"

// The person's answers for a run without a display: settings and folder
// given up front, message boxes printed as "caption: text". The offer of a
// per-user install folder is taken only when the command line asked for it.
// With `showProgress` (standard error is a terminal) the progress is one
// line on `progress`, redrawn in place.
class BatchUser final : public UserInterface {
public:
    BatchUser(CourseSettings settings, std::optional<std::string> folder, std::FILE* messages, bool showProgress,
              bool makeUserInstall, std::FILE* progress = stderr);

    std::optional<CourseSettings> ChooseSettings() override { return m_settings; }
    // The batch program takes a run back with --undo, never from the settings.
    bool UndoLastRunChosen() override { return false; }
    std::optional<std::string> ChooseFolder(const std::string& captionText, const std::string& promptText) override;
    void ShowMessage(const std::string& text, const std::string& caption, MessageStyle style) override;
    bool AcceptPerUserInstall(const PerUserInstallOffer& offer) override;
    // Printed as a message box is; nobody is there to say yes, so the answer is No.
    bool AskYesNo(const std::string& text, const std::string& caption) override;
    void SetProgressTotal(int total) override;
    Progress ReportProgress(int done, const std::string& currentFolder) override;
    void EndProgress() override;

    // How many message boxes the run has shown.
    int MessagesShown() const { return m_messagesShown; }

private:
    void ClearProgressLine();

    CourseSettings m_settings;
    std::optional<std::string> m_folder;
    std::FILE* m_messages;
    bool m_showProgress;
    bool m_makeUserInstall;
    std::FILE* m_progress;
    bool m_progressShown = false;
    int m_expected = kTotalUnknown;
    std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
    int m_messagesShown = 0;
};
