#include "win/TemplateDialog.h"

#include "win/DialogTemplateBytes.h"
#include "win/WinText.h"

TemplateDialog::TemplateDialog(const DialogTemplate& dialogTemplate, DWORD style, DWORD exStyle)
    : m_template(BuildDialogTemplateBytes(dialogTemplate, style, exStyle)) {}

TemplateDialog::~TemplateDialog() {
    if (!m_modal && m_hwnd) DestroyWindow(m_hwnd);
}

INT_PTR TemplateDialog::DoModal(HWND owner) {
    m_modal = true;
    m_result = 0;
    const INT_PTR result =
        DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<const DLGTEMPLATE*>(m_template.data()),
                                owner, &TemplateDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    m_hwnd = nullptr;
    return result;
}

HWND TemplateDialog::Create(HWND owner) {
    m_modal = false;
    m_result = 0;
    return CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                      reinterpret_cast<const DLGTEMPLATE*>(m_template.data()), owner,
                                      &TemplateDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

void TemplateDialog::Close(INT_PTR result) {
    m_result = result;
    if (m_modal) {
        EndDialog(m_hwnd, result);
    } else {
        ShowWindow(m_hwnd, SW_HIDE);
    }
}

std::string TemplateDialog::ItemText(int id) const {
    const HWND window = Item(id);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return Narrow(text);
}

void TemplateDialog::SetItemText(int id, const std::string& text) const {
    SetDlgItemTextW(m_hwnd, id, Widen(text).c_str());
}

INT_PTR CALLBACK TemplateDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<TemplateDialog*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        dialog->m_hwnd = hwnd;
        return dialog->OnInitDialog() ? TRUE : FALSE;
    }
    auto* dialog = reinterpret_cast<TemplateDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!dialog) return FALSE;
    switch (message) {
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            if (dialog->OnCommand(id, HIWORD(wParam))) return TRUE;
            // Enter and the default button send IDOK; Esc and the close box IDCANCEL.
            if (id == IDOK || id == IDCANCEL) {
                dialog->Close(id);
                return TRUE;
            }
            return FALSE;
        }
        case WM_NCDESTROY:
            dialog->m_hwnd = nullptr;
            return FALSE;
        default:
            return FALSE;
    }
}
