// The program's message boxes: modal, one OK button, the exclamation icon,
// titled with the application's title, as the Linux window shows them.
#pragma once

#include <string_view>

#include <windows.h>

namespace tarven::win {

void ShowMessage(HWND owner, std::string_view utf8Text);

}  // namespace tarven::win
