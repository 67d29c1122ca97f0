#include "WinDialog.h"

#include "WinCaptions.h"

namespace tarven::win {

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

INT_PTR WinDialog::RunModal(HWND owner, int templateId) {
    return DialogBoxParamW(Instance(), MAKEINTRESOURCEW(templateId), owner, &WinDialog::Procedure,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR WinDialog::OnMessage(UINT, WPARAM, LPARAM) { return FALSE; }

INT_PTR CALLBACK WinDialog::Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<WinDialog*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        self->handle_ = dialog;
        const BOOL result = self->OnInitDialog();
        FitCaptions(dialog);
        return result;
    }
    auto* self = reinterpret_cast<WinDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (self == nullptr) return FALSE;
    if (message == WM_COMMAND) {
        return self->OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
    }
    return self->OnMessage(message, wParam, lParam);
}

}  // namespace tarven::win
