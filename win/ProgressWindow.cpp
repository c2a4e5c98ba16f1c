#include "win/ProgressWindow.h"

#include "win/DialogTemplateBytes.h"

namespace {

// The folder's label ends a long path in the middle, so that both the top
// and the bundle stay readable.
constexpr ControlTemplate kProgressControls[] = {
    {ProgressWindow::kCountLabel, ControlKind::Label, "Done so far: 0", 7, 7, 260, 10, nullptr},
    {ProgressWindow::kFolderLabel, ControlKind::Label, "", 7, 20, 260, 10, nullptr},
    {ProgressWindow::kStopButton, ControlKind::PushButton, "&Stop", 217, 36, 50, 14, nullptr},
};
constexpr DialogTemplate kProgressDialog{0, "Quarvel", 274, 57, kProgressControls};

// No system menu: the window goes when the job ends. Above the other windows.
constexpr DWORD kProgressStyle = DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_VISIBLE;

}  // namespace

ProgressWindow::ProgressWindow() : TemplateDialog(kProgressDialog, kProgressStyle, WS_EX_TOPMOST) {}

void ProgressWindow::Update(HWND owner, int done, const std::string& currentFolder) {
    if (!hwnd()) {
        if (!Create(owner)) return;
        const HWND folder = Item(kFolderLabel);
        SetWindowLongPtrW(folder, GWL_STYLE, GetWindowLongPtrW(folder, GWL_STYLE) | SS_PATHELLIPSIS | SS_NOPREFIX);
        SetFocus(Item(kStopButton));
    }
    SetItemText(kCountLabel, "Done so far: " + std::to_string(done));
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
