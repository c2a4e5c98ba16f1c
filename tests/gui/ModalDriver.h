#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>
#include <string>
#include <vector>

// Answers the modal dialogs of a run as they open, in the order expected:
// each answer names the dialog's object name and what to do with it. A
// dialog nobody expected, or one left waiting, is a failure and is closed so
// that the test ends instead of hanging.
class ModalDriver {
public:
    using Answer = std::function<void(QWidget*)>;

    ModalDriver() {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
        m_timer.start(10);
        m_waiting.start();
    }

    ModalDriver& Then(const std::string& objectName, Answer answer) {
        m_answers.push_back({objectName, std::move(answer)});
        return *this;
    }

    // Object names of the dialogs seen, in order.
    std::vector<std::string> seen;
    bool AllAnswered() const { return m_answers.empty(); }

private:
    struct Expected {
        std::string objectName;
        Answer answer;
    };

    void Poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == m_lastAnswered.data() || !modal->isVisible()) {
            m_waiting.restart();
            return;
        }
        const std::string name = modal->objectName().toStdString();
        const bool expected = !m_answers.empty() && m_answers.front().objectName == name;
        // The progress window is modal while a job runs, however long; it is
        // answered only when a test asks for it.
        if (!expected && name == "progressWindow") {
            m_waiting.restart();
            return;
        }
        if (!expected) {
            // Allow a moment for nested loops to settle before calling it unexpected.
            if (m_waiting.elapsed() < 2000) return;
            ADD_FAILURE() << "unexpected dialog '" << name << "'";
            seen.push_back(name);
            m_lastAnswered = modal;
            modal->close();
            return;
        }
        seen.push_back(name);
        m_lastAnswered = modal;
        Answer answer = std::move(m_answers.front().answer);
        m_answers.pop_front();
        answer(modal);
        m_waiting.restart();
    }

    QTimer m_timer;
    QElapsedTimer m_waiting;
    QPointer<QWidget> m_lastAnswered;
    std::deque<Expected> m_answers;
};
