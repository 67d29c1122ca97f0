#include "MainWindow.h"

#include "AboutWindow.h"
#include "ResourceIds.h"

namespace tarven::win {

MainWindow::MainWindow() : icon_(LoadIconW(Instance(), MAKEINTRESOURCEW(IDR_APPICON))) {}

MainWindow::~MainWindow() = default;

void MainWindow::Run() { RunModal(nullptr, IDD_MAIN); }

BOOL MainWindow::OnInitDialog() {
    AddAboutToSystemMenu();
    SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
    // TODO(issue 14): hand the window to the main window's model once app/ has it.
    return TRUE;
}

void MainWindow::AddAboutToSystemMenu() {
    wchar_t text[64] = {};
    LoadStringW(Instance(), IDS_ABOUTBOX, text, 64);
    HMENU menu = GetSystemMenu(Handle(), FALSE);
    if (menu == nullptr || text[0] == L'\0') return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, text);
}

BOOL MainWindow::OnCommand(int id, int, HWND) {
    switch (id) {
    case IDCANCEL:
        End(IDCANCEL);
        return TRUE;
    case IDC_NOTE:
        AboutWindow().Run(Handle());
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR MainWindow::OnMessage(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) != IDM_ABOUTBOX) return FALSE;
        AboutWindow().Run(Handle());
        return TRUE;
    case WM_PAINT:
        if (!IsIconic(Handle())) return FALSE;
        PaintMinimised();
        return TRUE;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(icon_);
    default:
        return FALSE;
    }
}

void MainWindow::PaintMinimised() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(Handle(), &paint);
    SendMessageW(Handle(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(Handle(), &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, icon_);
    EndPaint(Handle(), &paint);
}

}  // namespace tarven::win
