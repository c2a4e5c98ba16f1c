#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Helpers for driving the program's windows from a test on the same thread.

// Hands every waiting message to its window, the dialog keys to `dialog`.
void PumpMessages(HWND dialog = nullptr);

// A key pressed on the control with the focus, as the dialog manager sees it.
void PressKey(HWND dialog, UINT key);

// Typed characters, one WM_CHAR each, to `control`.
void TypeText(HWND control, std::wstring_view text);

// The window text of `window`.
std::wstring WindowText(HWND window);

// The class name of `window` ("Button", "Edit", "Static", "#32770").
std::wstring ClassName(HWND window);

// The children of `window`, in their order (the dialog's tab order).
std::vector<HWND> Children(HWND window);

// Answers the modal windows a call opens on this thread, one step per
// window, in order: a timer looks for a visible top-level window of this
// thread with the step's title, and runs the step on it. The step closes it.
class ModalDriver {
public:
    ModalDriver();
    ~ModalDriver();
    ModalDriver(const ModalDriver&) = delete;
    ModalDriver& operator=(const ModalDriver&) = delete;

    ModalDriver& Then(std::wstring title, std::function<void(HWND)> step);
    bool AllAnswered() const { return m_next == m_steps.size(); }

private:
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD);
    void Poll();

    struct Step {
        std::wstring title;
        std::function<void(HWND)> step;
    };
    std::vector<Step> m_steps;
    std::size_t m_next = 0;
    UINT_PTR m_timer = 0;
    bool m_running = false;
};
