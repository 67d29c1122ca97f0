#include "WinCaptions.h"

#include <string>
#include <vector>

#include "CaptionRoom.h"
#include "WinDpi.h"

namespace tarven::win {
namespace {

// Room a button keeps for its frame, or for its check mark and gap, in
// pixels at 96 DPI.
constexpr int kPushButtonRoom = 4;
constexpr int kCheckBoxRoom = 16;

struct Control {
    HWND handle;
    CaptionBox box;
    bool frame;
};

// How a control lays out its caption; false for one whose text is no
// one-line caption (edits, lists, pictures, group boxes).
bool CaptionLayout(HWND control, CaptionAnchor& anchor, int& room, UINT& format) {
    wchar_t name[32] = L"";
    GetClassNameW(control, name, 32);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    format = DT_CALCRECT | DT_SINGLELINE | DT_EXPANDTABS;
    room = 0;
    if (_wcsicmp(name, L"Static") == 0) {
        const LONG type = style & SS_TYPEMASK;
        if (type != SS_LEFT && type != SS_CENTER && type != SS_RIGHT && type != SS_SIMPLE && type != SS_LEFTNOWORDWRAP)
            return false;
        if (style & SS_NOPREFIX) format |= DT_NOPREFIX;
        anchor = type == SS_CENTER  ? CaptionAnchor::Center
                 : type == SS_RIGHT ? CaptionAnchor::Right
                                    : CaptionAnchor::Left;
        return true;
    }
    if (_wcsicmp(name, L"Button") != 0) return false;
    switch (style & BS_TYPEMASK) {
        case BS_PUSHBUTTON:
        case BS_DEFPUSHBUTTON:
            anchor = CaptionAnchor::Center;
            room = kPushButtonRoom;
            return true;
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
        case BS_3STATE:
        case BS_AUTO3STATE:
        case BS_RADIOBUTTON:
        case BS_AUTORADIOBUTTON:
            anchor = CaptionAnchor::Left;
            room = kCheckBoxRoom;
            return true;
        default: return false;
    }
}

bool IsGroupBox(HWND control) {
    wchar_t name[32] = L"";
    GetClassNameW(control, name, 32);
    return _wcsicmp(name, L"Button") == 0 && (GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
}

std::vector<Control> ControlsOf(HWND dialog) {
    std::vector<Control> controls;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT r{};
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        controls.push_back({child, {r.left, r.top, r.right - 1, r.bottom - 1}, IsGroupBox(child)});
    }
    return controls;
}

// The pixels the caption of `control` needs on one line, and the height of
// that line; {0, 0} for no caption.
SIZE Needed(HDC dc, HWND control, UINT format) {
    const int length = GetWindowTextLengthW(control);
    if (length == 0) return {0, 0};
    std::wstring text(std::size_t(length) + 1, L'\0');
    GetWindowTextW(control, text.data(), length + 1);
    text.resize(std::size_t(length));
    // A line break ending a caption ("Renommer\r\n") draws nothing where it
    // fits; measured on one line it would count as two glyphs.
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.pop_back();
    RECT need{0, 0, 0, 0};
    DrawTextW(dc, text.c_str(), -1, &need, format);
    return {need.right, need.bottom};
}

}  // namespace

void FitCaptions(HWND dialog) {
    std::vector<Control> controls = ControlsOf(dialog);
    RECT client{};
    GetClientRect(dialog, &client);
    HDC dc = GetDC(dialog);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)));
    for (Control& c : controls) {
        CaptionAnchor anchor = CaptionAnchor::Left;
        int room = 0;
        UINT format = 0;
        if (!(GetWindowLongW(c.handle, GWL_STYLE) & WS_VISIBLE) || !CaptionLayout(c.handle, anchor, room, format))
            continue;
        const SIZE need = Needed(dc, c.handle, format);
        // A label two lines high wraps on purpose.
        if (need.cx == 0 || c.box.bottom - c.box.top + 1 >= 2 * need.cy) continue;
        const int width = need.cx + ScaledPixels(dialog, room);
        if (width <= c.box.Width()) continue;
        std::vector<OtherControl> others;
        for (const Control& o : controls)
            if (o.handle != c.handle) others.push_back({o.box, o.frame});
        c.box = GrowCaptionBox(c.box, width, anchor, client.right, others);
        SetWindowPos(c.handle, nullptr, c.box.left, c.box.top, c.box.Width(), c.box.bottom - c.box.top + 1,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    SelectObject(dc, old);
    ReleaseDC(dialog, dc);
}

}  // namespace tarven::win
