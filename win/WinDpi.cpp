#include "WinDpi.h"

namespace tarven::win {

UINT WindowDpi(HWND window) {
    // GetDpiForWindow came with Windows 10 1607; before it (and where wine
    // lacks it) the window's device context tells the system's DPI.
    using GetDpiForWindowCall = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowCall>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow != nullptr) {
        if (const UINT dpi = getDpiForWindow(window)) return dpi;
    }
    HDC dc = GetDC(window);
    const int dpi = dc != nullptr ? GetDeviceCaps(dc, LOGPIXELSX) : 0;
    if (dc != nullptr) ReleaseDC(window, dc);
    return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

int ScaledPixels(HWND window, int pixelsAt96Dpi) {
    return MulDiv(pixelsAt96Dpi, static_cast<int>(WindowDpi(window)), USER_DEFAULT_SCREEN_DPI);
}

}  // namespace tarven::win
