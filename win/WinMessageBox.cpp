#include "WinMessageBox.h"

#include "WinText.h"

namespace tarven::win {

namespace {
constexpr wchar_t kApplicationTitle[] = L"TARVEN Updater V1.0";
}

void ShowMessage(HWND owner, std::string_view utf8Text) {
    MessageBoxW(owner, Widen(utf8Text).c_str(), kApplicationTitle, MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace tarven::win
