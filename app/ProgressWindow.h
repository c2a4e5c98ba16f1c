#pragma once

#include <QWidget>
#include <string>

class QLabel;

// A small window that shows how far a long job has come: how many bundles
// are done and the folder in hand. It is updated between bundles on the
// thread that does the work.
class ProgressWindow : public QWidget {
public:
    explicit ProgressWindow(QWidget* owner = nullptr);

    void Update(int done, const std::string& currentFolder);

private:
    QLabel* m_count;
    QLabel* m_folder;
};
