// Captions that do not fit their control in the font the dialog got take the
// free room beside it, by the same rule as the Qt window.
#pragma once

#include <windows.h>

namespace tarven::win {

// Call once the dialog's controls hold their first texts.
void FitCaptions(HWND dialog);

}  // namespace tarven::win
