#include "win/CDirDialog.h"

#include <shlobj.h>

#include "platform/FileSystem.h"
#include "win/WinText.h"

bool CDirDialog::OnSelectionChanged(const std::string& path) {
    (void)path;
    return true;
}

bool CDirDialog::ChooseFolder() {
    wchar_t displayName[MAX_PATH] = {};
    const std::wstring title = Widen(promptText.empty() ? std::string("Open") : promptText);
    BROWSEINFOW browse{};
    browse.hwndOwner = nullptr;
    browse.pidlRoot = nullptr;  // the desktop
    browse.pszDisplayName = displayName;
    browse.lpszTitle = title.c_str();
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS;
    browse.lpfn = &CDirDialog::BrowseCallback;
    browse.lParam = reinterpret_cast<LPARAM>(this);
    const PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&browse);
    if (!item) return false;
    wchar_t path[MAX_PATH] = {};
    const bool hasPath = SHGetPathFromIDListW(item, path) && path[0] != L'\0';
    CoTaskMemFree(item);
    if (!hasPath) return false;
    chosenPath = platform::PathFromDisplay(Narrow(path));
    return true;
}

int CALLBACK CDirDialog::BrowseCallback(HWND window, UINT message, LPARAM lParam, LPARAM data) {
    auto* picker = reinterpret_cast<CDirDialog*>(data);
    if (message == BFFM_INITIALIZED) {
        if (!picker->captionText.empty()) SetWindowTextW(window, Widen(picker->captionText).c_str());
        // Centred by its own client size, then made larger so the tree has room.
        RECT client{};
        GetClientRect(window, &client);
        const int width = client.right - client.left;
        const int height = client.bottom - client.top;
        SetWindowPos(window, HWND_TOPMOST, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                     (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width + 25, height + 60, SWP_SHOWWINDOW);
    } else if (message == BFFM_SELCHANGED) {
        wchar_t path[MAX_PATH] = {};
        if (!SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(lParam), path)) path[0] = L'\0';
        const bool enable =
            picker->OnSelectionChanged(path[0] ? platform::PathFromDisplay(Narrow(path)) : std::string());
        SendMessageW(window, BFFM_ENABLEOK, 0, enable ? TRUE : FALSE);
    }
    return 0;
}
