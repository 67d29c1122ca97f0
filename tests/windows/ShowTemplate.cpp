// Opens one of the program's dialog templates by its number, for the
// screenshots of the Windows stage: `show_template.exe 404`. The dialog's
// own view is not involved; this shows what the template alone draws.
#include <cwchar>

#include <windows.h>
#include <commctrl.h>

namespace {

INT_PTR CALLBACK CloseOnButton(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS | ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    const int templateId = static_cast<int>(std::wcstol(commandLine, nullptr, 10));
    const INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(templateId), nullptr, &CloseOnButton, 0);
    return result == -1 ? 1 : 0;
}
