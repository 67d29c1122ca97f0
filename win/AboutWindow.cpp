#include "AboutWindow.h"

#include "ResourceIds.h"

namespace tarven::win {

void AboutWindow::Run(HWND owner) { RunModal(owner, IDD_ABOUT); }

BOOL AboutWindow::OnCommand(int id, int, HWND) {
    if (id != IDOK && id != IDCANCEL) return FALSE;
    End(id);
    return TRUE;
}

}  // namespace tarven::win
