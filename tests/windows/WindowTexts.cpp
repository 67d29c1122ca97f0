// Prints the controls of every top-level window with a given title, one line
// each: the control's id, a tab, and its text, then a tab and "disabled" for
// a control that is. The Windows stage reads the
// window's fields and message boxes with it while xdotool plays the user:
//   window_texts.exe "TARVEN Updater V1.0"
// With --press ID it clicks that button instead, for the one the window
// keeps hidden (" Reprenez"), which no mouse can reach. With --clipped it
// prints only the captions that do not fit their control in the templates'
// font, and exits with 1 if there is one.
#include <cstdio>
#include <cwchar>
#include <string>

#include <windows.h>

namespace {

// WM_GETTEXT itself: GetWindowText does not ask another process's controls.
std::wstring RawTextOf(HWND window) {
    const LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied = SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(copied));
    return text;
}

std::wstring TextOf(HWND window) {
    std::wstring text = RawTextOf(window);
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

// The pixels a button's own drawing takes beside its caption, as wine and
// Windows draw them at 96 dpi: the box and gap of a radio button or check box,
// the frame of a push button, the indent and gap of a group box's title.
constexpr int kCheckBoxRoom = 16;
constexpr int kPushButtonRoom = 4;
constexpr int kGroupBoxRoom = 12;

// The room a control leaves its caption and how DrawText lays it out there,
// or false for a control whose text is not a caption (edits, lists, images).
bool CaptionRoom(HWND control, RECT& room, UINT& format) {
    wchar_t name[32] = L"";
    GetClassNameW(control, name, 32);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    GetClientRect(control, &room);
    format = DT_CALCRECT | DT_EXPANDTABS;
    if (_wcsicmp(name, L"Static") == 0) {
        const LONG type = style & SS_TYPEMASK;
        if (type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT) format |= DT_WORDBREAK;
        else if (type != SS_SIMPLE && type != SS_LEFTNOWORDWRAP) return false;
        if (style & SS_NOPREFIX) format |= DT_NOPREFIX;
        return true;
    }
    if (_wcsicmp(name, L"Button") != 0) return false;
    format |= (style & BS_MULTILINE) ? DT_WORDBREAK : DT_SINGLELINE;
    switch (style & BS_TYPEMASK) {
        case BS_PUSHBUTTON:
        case BS_DEFPUSHBUTTON: room.right -= kPushButtonRoom; return true;
        case BS_GROUPBOX: room.right -= kGroupBoxRoom; return true;
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
        case BS_3STATE:
        case BS_AUTO3STATE:
        case BS_RADIOBUTTON:
        case BS_AUTORADIOBUTTON: room.right -= kCheckBoxRoom; return true;
        default: return false;
    }
}

int g_clipped = 0;  // captions found clipped by --clipped

// Measured in a font made here: a font handle does not cross processes.
BOOL CALLBACK CheckCaption(HWND control, LPARAM font) {
    const std::wstring text = RawTextOf(control);
    RECT room{};
    UINT format = 0;
    if (text.empty() || !IsWindowVisible(control) || !CaptionRoom(control, room, format)) return TRUE;
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(font));
    RECT need{0, 0, room.right, 0};
    DrawTextW(dc, text.c_str(), -1, &need, format);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    if (need.right > room.right || need.bottom > room.bottom) {
        ++g_clipped;
        std::printf("%d\t%ls\tclipped: needs %ldx%ld, has %ldx%ld\n",
                    static_cast<int>(static_cast<short>(GetDlgCtrlID(control))), TextOf(control).c_str(), need.right,
                    need.bottom, room.right, room.bottom);
    }
    return TRUE;
}

// The templates' own font, "MS Sans Serif" 8, as the dialog manager makes it.
HFONT TemplateFont() {
    HDC screen = GetDC(nullptr);
    const int height = -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    return CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif");
}

bool g_check = false;  // --clipped
int g_press = 0;       // the button to click, or 0 to print the controls

BOOL CALLBACK VisitTopLevel(HWND window, LPARAM title) {
    if (!IsWindowVisible(window) || TextOf(window) != reinterpret_cast<const wchar_t*>(title)) return TRUE;
    if (g_check) {
        HFONT font = TemplateFont();
        EnumChildWindows(window, &CheckCaption, reinterpret_cast<LPARAM>(font));
        DeleteObject(font);
    } else if (g_press == 0) {
        EnumChildWindows(window, &PrintControl, 0);
    } else if (HWND button = GetDlgItem(window, g_press)) {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(g_press, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    }
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && std::wstring(argv[2]) == L"--press") g_press = static_cast<int>(std::wcstol(argv[3], nullptr, 10));
    else if (argc == 3 && std::wstring(argv[2]) == L"--clipped") g_check = true;
    else if (argc != 2) return 2;
    EnumWindows(&VisitTopLevel, reinterpret_cast<LPARAM>(argv[1]));
    std::fflush(stdout);
    return g_clipped == 0 ? 0 : 1;
}
