#pragma once

#include <string>

#include "bundle/CountBundles.h"
#include "win/TemplateDialog.h"

// A small modeless window that shows how far a long job has come: a bar that
// fills towards the total counted before the job (none without a total),
// how many bundles are done of how many, the time left, the folder just
// done, and a Stop button. The job updates it between bundles on the thread
// that does the work, takes the input that came meanwhile (PumpMessages) and
// asks it then whether Stop was pressed. Esc and the close command ask for a
// stop too.
class ProgressWindow : public TemplateDialog {
public:
    static constexpr int kCountLabel = 100;
    static constexpr int kFolderLabel = 101;
    static constexpr int kTimeLeftLabel = 102;
    static constexpr int kProgressBar = 103;
    static constexpr int kStopButton = IDCANCEL;

    ProgressWindow();

    // Opens the window the first time; shows `view` and `currentFolder`.
    void Update(HWND owner, const ProgressView& view, const std::string& currentFolder);
    // Hands the messages that came in to their windows, the dialog's keys first.
    void PumpMessages();
    bool stopRequested() const { return m_stopRequested; }

protected:
    bool OnCommand(int id, int notification) override;

private:
    bool m_stopRequested = false;
};
