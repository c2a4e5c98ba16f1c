#include "WindowDriver.h"

void PumpMessages(HWND dialog) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (dialog && IsWindow(dialog) && IsDialogMessageW(dialog, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void PressKey(HWND dialog, UINT key) {
    const HWND focus = GetFocus();
    PostMessageW(focus ? focus : dialog, WM_KEYDOWN, key, 1);
    PostMessageW(focus ? focus : dialog, WM_KEYUP, key, 0xC0000001);
    PumpMessages(dialog);
}

void TypeText(HWND control, std::wstring_view text) {
    for (const wchar_t c : text) SendMessageW(control, WM_CHAR, c, 1);
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::wstring ClassName(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::vector<HWND> Children(HWND window) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

namespace {
ModalDriver* g_driver = nullptr;
}

ModalDriver::ModalDriver() {
    g_driver = this;
    m_timer = SetTimer(nullptr, 0, 50, &ModalDriver::OnTimer);
}

ModalDriver::~ModalDriver() {
    KillTimer(nullptr, m_timer);
    g_driver = nullptr;
}

ModalDriver& ModalDriver::Then(std::wstring title, std::function<void(HWND)> step) {
    m_steps.push_back({std::move(title), std::move(step)});
    return *this;
}

void CALLBACK ModalDriver::OnTimer(HWND, UINT, UINT_PTR, DWORD) {
    if (g_driver) g_driver->Poll();
}

void ModalDriver::Poll() {
    if (m_running || m_next >= m_steps.size()) return;
    struct Search {
        const std::wstring* title;
        HWND found;
    } search{&m_steps[m_next].title, nullptr};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            if (IsWindowVisible(window) && WindowText(window) == *s->title) {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    if (!search.found) return;
    m_running = true;
    const std::function<void(HWND)> step = m_steps[m_next++].step;
    step(search.found);
    m_running = false;
}
