// The program's message boxes: modal, one OK button, the exclamation icon,
// titled with the application's title, as the Linux window shows them.
#pragma once

#include <stop_token>
#include <string_view>

#include <windows.h>

namespace tarven::win {

void ShowMessage(HWND owner, std::string_view utf8Text);

// The same box shown by the link worker on its own thread; it closes by
// itself as soon as `stop` is requested, so a stopping run never waits on it.
void ShowMessageUntilStopped(HWND owner, std::string_view utf8Text, std::stop_token stop);

}  // namespace tarven::win
