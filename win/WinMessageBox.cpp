#include "WinMessageBox.h"

#include <stop_token>

#include "WinText.h"

namespace tarven::win {

namespace {
constexpr wchar_t kApplicationTitle[] = L"TARVEN Updater V1.0";
}

void ShowMessage(HWND owner, std::string_view utf8Text) {
    MessageBoxW(owner, Widen(utf8Text).c_str(), kApplicationTitle, MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace tarven::win

namespace tarven::win {

void ShowMessageUntilStopped(HWND owner, std::string_view utf8Text, std::stop_token stop) {
    const DWORD thread = GetCurrentThreadId();
    const std::stop_callback closeBox(stop, [thread] {
        EnumThreadWindows(
            thread, [](HWND window, LPARAM) { return PostMessageW(window, WM_CLOSE, 0, 0); }, 0);
    });
    if (stop.stop_requested()) return;
    ShowMessage(owner, utf8Text);
}

}  // namespace tarven::win
