#pragma once

#include <QElapsedTimer>
#include <memory>

#include "app/UserInterface.h"
#include "bundle/CountBundles.h"

class ProgressWindow;
class QWidget;

// The desktop program's answers: the settings dialog, the folder picker,
// message boxes owned by the main dialog, and a progress window.
class QtUser final : public UserInterface {
public:
    explicit QtUser(QWidget* owner);
    ~QtUser() override;
    QtUser(const QtUser&) = delete;
    QtUser& operator=(const QtUser&) = delete;

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
    QWidget* m_owner;
    std::unique_ptr<ProgressWindow> m_progress;
    bool m_undoLastRunChosen = false;
    int m_expected = kTotalUnknown;
    QElapsedTimer m_sinceStart;  // the job's time, for the time left
};
