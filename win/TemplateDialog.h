#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "res/DialogTemplate.h"

// A dialog of the native dialog manager built from one of the res/ template
// descriptions. Shown modally (DoModal) by the program, or opened modeless
// (Create) where the caller pumps the messages: the progress window, and the
// tests, which drive a dialog without a modal loop of its own.
class TemplateDialog {
public:
    TemplateDialog(const DialogTemplate& dialogTemplate, DWORD style, DWORD exStyle);
    virtual ~TemplateDialog();
    TemplateDialog(const TemplateDialog&) = delete;
    TemplateDialog& operator=(const TemplateDialog&) = delete;

    // Shows the dialog and waits: the result it was closed with (IDOK,
    // IDCANCEL), or -1 when the window could not be made.
    INT_PTR DoModal(HWND owner);
    // Opens the dialog modeless. Closing it then hides it and sets result();
    // the window lives on until the object goes.
    HWND Create(HWND owner);

    HWND hwnd() const { return m_hwnd; }
    // 0 while the dialog is open.
    INT_PTR result() const { return m_result; }

    // The window text of a control, as UTF-8.
    std::string ItemText(int id) const;

protected:
    // WM_INITDIALOG: true to let the dialog manager give the focus to the
    // first tab stop.
    virtual bool OnInitDialog() { return true; }
    // WM_COMMAND from a control or the keyboard: true when handled. Unhandled
    // IDOK and IDCANCEL close the dialog with that result.
    virtual bool OnCommand(int id, int notification) {
        (void)id;
        (void)notification;
        return false;
    }
    // Closes the dialog with `result`.
    void Close(INT_PTR result);
    HWND Item(int id) const { return GetDlgItem(m_hwnd, id); }
    void SetItemText(int id, const std::string& text) const;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    std::vector<WORD> m_template;
    HWND m_hwnd = nullptr;
    bool m_modal = false;
    INT_PTR m_result = 0;
};
