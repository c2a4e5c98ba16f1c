#pragma once

#include <QWidget>
#include <string>

#include "bundle/CountBundles.h"

class QLabel;
class QProgressBar;
class QPushButton;

// A small window that shows how far a long job has come: a bar that fills
// towards the total counted before the job (a busy bar without one), how
// many bundles are done of how many, the time left, the folder just done,
// and a Stop button. The job updates it between bundles on the thread that
// does the work and asks it then whether Stop was pressed. While it is up it
// is the only window that takes input, so nothing can start a second run
// inside this one. The job hides it when it ends; closing it asks for a stop.
class ProgressWindow : public QWidget {
public:
    explicit ProgressWindow(QWidget* owner = nullptr);

    void Update(const ProgressView& view, const std::string& currentFolder);

    // True once Stop was pressed (or Esc, or the window was asked to close).
    bool stopRequested() const { return m_stopRequested; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void RequestStop();

    QProgressBar* m_bar;
    QLabel* m_count;
    QLabel* m_timeLeft;
    QLabel* m_folder;
    QPushButton* m_stop;
    bool m_stopRequested = false;
};
