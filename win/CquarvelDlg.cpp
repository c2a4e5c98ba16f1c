#include "win/CquarvelDlg.h"

#include "res/Dialog102.h"
#include "win/DialogTemplateBytes.h"

namespace {
// Shown in the taskbar; visible only once its initialisation returns, which
// the run never lets it reach.
constexpr DWORD kMainStyle = kDialogFrameStyle | WS_VISIBLE;
}  // namespace

CquarvelDlg::CquarvelDlg(const platform::Clock& clock)
    : TemplateDialog(kDialog102, kMainStyle, WS_EX_APPWINDOW), m_run(m_user, clock, InstallStore::ForPrograms()) {}

bool CquarvelDlg::OnInitDialog() {
    const HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(128));
    if (icon) {
        SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }
    m_user.SetOwner(hwnd());
    m_run.EmptyRunReport();
    m_outcome = m_run.RunSelectedJob();
    // The run is over on every path: close the dialog.
    Close(IDOK);
    return true;
}
