#pragma once

#include <QDialog>

#include "app/QuarvelRun.h"
#include "gui/QtUser.h"
#include "platform/Clock.h"

// The main dialog. Its initialisation runs the whole run and closes it, so
// it is never seen: every window the user meets is one of the run's.
class CquarvelDlg : public QDialog {
public:
    explicit CquarvelDlg(const platform::Clock& clock, QWidget* parent = nullptr);

    // Runs the dialog's initialisation and returns its result once the run
    // has closed it.
    int DoModal();

    RunOutcome outcome() const { return m_outcome; }

protected:
    bool OnInitDialog();

private:
    QtUser m_user;
    QuarvelRun m_run;
    RunOutcome m_outcome = RunOutcome::Ran;
};
