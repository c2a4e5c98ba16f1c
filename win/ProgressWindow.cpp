#include "win/ProgressWindow.h"

// clang-format off
#include <commctrl.h>  // after windows.h, which it needs
// clang-format on

#include "win/DialogTemplateBytes.h"

namespace {

// The folder's label ends a long path in the middle, so that both the top
// and the bundle stay readable. The bar above the labels is a common
// control, which the templates do not describe.
constexpr ControlTemplate kProgressControls[] = {
    {ProgressWindow::kCountLabel, ControlKind::Label, "Done so far: 0", 7, 21, 150, 10, nullptr},
    {ProgressWindow::kTimeLeftLabel, ControlKind::Label, "", 160, 21, 107, 10, nullptr},
    {ProgressWindow::kFolderLabel, ControlKind::Label, "", 7, 34, 260, 10, nullptr},
    {ProgressWindow::kStopButton, ControlKind::PushButton, "&Stop", 217, 50, 50, 14, nullptr},
};
constexpr DialogTemplate kProgressDialog{0, "Quarvel", 274, 71, kProgressControls};
constexpr RECT kBarPlace{7, 7, 260, 10};  // x, y, width, height in dialog units

// No system menu: the window goes when the job ends. Above the other windows.
constexpr DWORD kProgressStyle = DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_VISIBLE;

}  // namespace

ProgressWindow::ProgressWindow() : TemplateDialog(kProgressDialog, kProgressStyle, WS_EX_TOPMOST) {}

void ProgressWindow::Update(HWND owner, const ProgressView& view, const std::string& currentFolder) {
    if (!hwnd()) {
        if (!Create(owner)) return;
        const HWND folder = Item(kFolderLabel);
        SetWindowLongPtrW(folder, GWL_STYLE, GetWindowLongPtrW(folder, GWL_STYLE) | SS_PATHELLIPSIS | SS_NOPREFIX);
        const HWND timeLeft = Item(kTimeLeftLabel);
        SetWindowLongPtrW(timeLeft, GWL_STYLE, GetWindowLongPtrW(timeLeft, GWL_STYLE) | SS_RIGHT);
        const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&classes);
        RECT place = kBarPlace;
        MapDialogRect(hwnd(), &place);
        CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD, place.left, place.top, place.right, place.bottom, hwnd(),
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kProgressBar)), GetModuleHandleW(nullptr),
                        nullptr);
        SetFocus(Item(kStopButton));
    }
    // Without a total there is nothing for the bar to fill towards.
    const HWND bar = Item(kProgressBar);
    if (view.total == kTotalUnknown) {
        ShowWindow(bar, SW_HIDE);
    } else {
        SendMessageW(bar, PBM_SETRANGE32, 0, view.total);
        SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(view.done), 0);
        ShowWindow(bar, SW_SHOWNA);
    }
    SetItemText(kCountLabel, view.count);
    SetItemText(kTimeLeftLabel, view.timeLeft);
    SetItemText(kFolderLabel, currentFolder);
    UpdateWindow(hwnd());
}

void ProgressWindow::PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Not ours to take: the loop that waits for it gets it again.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (hwnd() && IsDialogMessageW(hwnd(), &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool ProgressWindow::OnCommand(int id, int notification) {
    (void)notification;
    // Stop, Esc and the close command. The bundle in hand is finished first:
    // the button says so until the job ends.
    if (id != kStopButton) return id == IDOK;
    if (!m_stopRequested) {
        m_stopRequested = true;
        SetItemText(kStopButton, "Stopping...");
        EnableWindow(Item(kStopButton), FALSE);
    }
    return true;
}
