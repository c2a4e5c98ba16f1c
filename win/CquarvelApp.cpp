#include "win/CquarvelApp.h"

#include <windows.h>
// clang-format off
#include <commctrl.h>  // after windows.h, which they need
#include <objbase.h>
// clang-format on

#include "platform/Clock.h"
#include "win/CquarvelDlg.h"

bool CquarvelApp::InitInstance() {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    // The shell's folder browser needs COM on this thread.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

    const HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    {
        platform::SystemClock clock;
        CquarvelDlg dialog(clock);
        dialog.DoModal(nullptr);
        m_exitStatus = dialog.outcome() == RunOutcome::NotStarted ? 1 : 0;
    }
    SetCursor(previous);
    if (SUCCEEDED(com)) CoUninitialize();
    return false;
}
