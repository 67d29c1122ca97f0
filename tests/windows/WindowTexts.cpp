// Prints the controls of every top-level window with a given title, one line
// each: the control's id, a tab, and its text, then a tab and "disabled" for
// a control that is. The Windows stage reads the
// window's fields and message boxes with it while xdotool plays the user:
//   window_texts.exe "TARVEN Updater V1.0"
// With --press ID it clicks that button instead, for the one the window
// keeps hidden (" Reprenez"), which no mouse can reach.
#include <cstdio>
#include <cwchar>
#include <string>

#include <windows.h>

namespace {

// WM_GETTEXT itself: GetWindowText does not ask another process's controls.
std::wstring TextOf(HWND window) {
    const LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied = SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(copied));
    for (wchar_t& c : text) {
        if (c == L'\r' || c == L'\n') c = L' ';
    }
    return text;
}

BOOL CALLBACK PrintControl(HWND control, LPARAM) {
    const std::wstring text = TextOf(control);
    const int id = static_cast<int>(static_cast<short>(GetDlgCtrlID(control)));
    std::printf("%d\t%ls%s\n", id, text.c_str(), IsWindowEnabled(control) ? "" : "\tdisabled");
    return TRUE;
}

int g_press = 0;  // the button to click, or 0 to print the controls

BOOL CALLBACK VisitTopLevel(HWND window, LPARAM title) {
    if (!IsWindowVisible(window) || TextOf(window) != reinterpret_cast<const wchar_t*>(title)) return TRUE;
    if (g_press == 0) {
        EnumChildWindows(window, &PrintControl, 0);
    } else if (HWND button = GetDlgItem(window, g_press)) {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(g_press, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    }
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && std::wstring(argv[2]) == L"--press") g_press = static_cast<int>(std::wcstol(argv[3], nullptr, 10));
    else if (argc != 2) return 2;
    EnumWindows(&VisitTopLevel, reinterpret_cast<LPARAM>(argv[1]));
    std::fflush(stdout);
    return 0;
}
