#pragma once

#include "app/QuarvelRun.h"
#include "platform/Clock.h"
#include "win/TemplateDialog.h"
#include "win/WinUser.h"

// The main dialog. Its initialisation runs the whole run and closes it, so
// it is never seen: every window the user meets is one of the run's.
class CquarvelDlg : public TemplateDialog {
public:
    explicit CquarvelDlg(const platform::Clock& clock);

    RunOutcome outcome() const { return m_outcome; }

protected:
    bool OnInitDialog() override;

private:
    WinUser m_user;
    QuarvelRun m_run;
    RunOutcome m_outcome = RunOutcome::Ran;
};
