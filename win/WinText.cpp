#include "WinText.h"

#include <windows.h>

#include "FileSystemWin.h"

namespace tarven::win {

std::wstring Widen(std::string_view utf8) { return WideFromUtf8(utf8); }

std::string Narrow(std::wstring_view wide) { return Utf8FromWide(wide); }

std::string ControlText(void* dialog, int id) {
    HWND control = GetDlgItem(static_cast<HWND>(dialog), id);
    if (control == nullptr) return {};
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    const int copied = GetWindowTextW(control, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(copied));
    return Narrow(text);
}

void SetControlText(void* dialog, int id, std::string_view utf8) {
    SetDlgItemTextW(static_cast<HWND>(dialog), id, Widen(utf8).c_str());
}

}  // namespace tarven::win
