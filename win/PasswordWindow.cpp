#include "PasswordWindow.h"

#include "ResourceIds.h"
#include "WinMessageBox.h"
#include "WinText.h"

namespace tarven::win {

std::optional<AccessLevel> PasswordWindow::Run(HWND owner) {
    if (RunModal(owner, IDD_PASSWORD) != IDOK) return std::nullopt;
    return model_.Level();
}

void PasswordWindow::ShowMessage(const std::string& text) { win::ShowMessage(Handle(), text); }

void PasswordWindow::Close(bool accepted) { End(accepted ? IDOK : IDCANCEL); }

BOOL PasswordWindow::OnCommand(int id, int, HWND) {
    if (id == IDOK) {
        model_.OnOk(ControlText(Handle(), IDC_PASSWORD_EDIT));
        return TRUE;
    }
    if (id == IDCANCEL) {
        End(IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

}  // namespace tarven::win
