// The window's own DPI. The dialog manager lays the templates out at each
// monitor's DPI by itself; the few sizes the code gives in pixels are 96 DPI
// pixels and go through here.
#pragma once

#include <windows.h>

namespace tarven::win {

UINT WindowDpi(HWND window);
int ScaledPixels(HWND window, int pixelsAt96Dpi);

}  // namespace tarven::win
