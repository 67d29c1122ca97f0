#include "MainWindow.h"

#include <commctrl.h>
#include <dbt.h>

#include "AboutWindow.h"
#include "FolderBrowserWindow.h"
#include "FolderWindows.h"
#include "PasswordWindow.h"
#include "ProgressWindow.h"
#include "ResourceIds.h"
#include "SystemFileSystem.h"
#include "WinMessageBox.h"
#include "WinText.h"

namespace tarven::win {

namespace {

int ControlId(MainControl control) {
    switch (control) {
        case MainControl::Update: return IDC_UPDATE;
        case MainControl::ReadBack: return IDC_READ_BACK;
        case MainControl::ServiceAccess: return IDC_PASSWORD_BUTTON;
        case MainControl::LoaderKind: return KindSoftwareDataLoader;
    }
    return 0;
}

int FieldId(MainField field) {
    switch (field) {
        case MainField::WorkFolder: return IDC_WORK_FOLDER;
        case MainField::ReceiverSoftware: return IDC_RECEIVER_SOFTWARE;
        case MainField::ReceiverHardware: return IDC_RECEIVER_HARDWARE;
        case MainField::ImageHardware: return IDC_IMAGE_HARDWARE;
        case MainField::ImageSoftware: return IDC_IMAGE_SOFTWARE;
    }
    return 0;
}

// Version texts are the receiver's or the file's bytes, one character each.
void SetLatin1Text(HWND dialog, int id, const std::string& bytes) {
    std::wstring text(bytes.begin(), bytes.end());
    for (std::size_t i = 0; i < bytes.size(); ++i) text[i] = static_cast<unsigned char>(bytes[i]);
    SetDlgItemTextW(dialog, id, text.c_str());
}

bool PicksEntry(WPARAM key) {
    switch (key) {
        case VK_SPACE:
        case VK_SELECT:
        case VK_RETURN:
        case VK_UP:
        case VK_DOWN:
        case VK_LEFT:
        case VK_RIGHT:
        case VK_HOME:
        case VK_END:
        case VK_PRIOR:
        case VK_NEXT: return true;
        default: return false;
    }
}

// A click or a selecting key on the entry already highlighted changes no
// selection, so the list box says nothing; yet it is the technician choosing
// that port (the first one shown may not be the port in use). The list then
// tells the window as a change would. Enter goes to the dialog, which asks
// the list first.
LRESULT CALLBACK PortListProcedure(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR) {
    if (message == WM_NCDESTROY) RemoveWindowSubclass(list, PortListProcedure, id);
    const MSG* key = message == WM_GETDLGCODE ? reinterpret_cast<const MSG*>(lParam) : nullptr;
    const bool picks = (message == WM_LBUTTONDOWN && HIWORD(SendMessageW(list, LB_ITEMFROMPOINT, 0, lParam)) == 0) ||
                       (message == WM_KEYDOWN && PicksEntry(wParam)) ||
                       (key != nullptr && key->message == WM_KEYDOWN && key->wParam == VK_RETURN);
    const LRESULT result = DefSubclassProc(list, message, wParam, lParam);
    if (picks) {
        SendMessageW(GetParent(list), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), LBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(list));
    }
    return result;
}

}  // namespace

MainWindow::MainWindow(ProgramState& program, PortMap ports)
    : program_(program), ports_(std::move(ports)), icon_(LoadIconW(Instance(), MAKEINTRESOURCEW(IDR_APPICON))) {}

MainWindow::~MainWindow() = default;

void MainWindow::Run() { RunModal(nullptr, IDD_MAIN); }

BOOL MainWindow::OnInitDialog() {
    AddAboutToSystemMenu();
    SetWindowSubclass(GetDlgItem(Handle(), IDC_PORT_LIST), PortListProcedure, 0, 0);
    AddPortTooltip();
    SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
    model_ = std::make_unique<MainWindowModel>(*this, files_, program_, ProbeThrough(ports_));
    model_->Start();
    return TRUE;
}

void MainWindow::AddPortTooltip() {
    HWND list = GetDlgItem(Handle(), IDC_PORT_LIST);
    HWND tip = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, Handle(), nullptr, Instance(), nullptr);
    if (tip == nullptr || list == nullptr) return;
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = Handle();
    tool.uId = reinterpret_cast<UINT_PTR>(list);
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, 480);
}

void MainWindow::PortTip(NMTTDISPINFOW& info) {
    HWND list = GetDlgItem(Handle(), IDC_PORT_LIST);
    POINT cursor{};
    GetCursorPos(&cursor);
    ScreenToClient(list, &cursor);
    const LRESULT hit = SendMessageW(list, LB_ITEMFROMPOINT, 0, MAKELPARAM(cursor.x, cursor.y));
    const std::size_t row = LOWORD(hit);
    info.lpszText = const_cast<wchar_t*>(HIWORD(hit) == 0 && row < portTips_.size() ? portTips_[row].c_str() : L"");
}

void MainWindow::AddAboutToSystemMenu() {
    wchar_t text[64] = {};
    LoadStringW(Instance(), IDS_ABOUTBOX, text, 64);
    HMENU menu = GetSystemMenu(Handle(), FALSE);
    if (menu == nullptr || text[0] == L'\0') return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, text);
}

BOOL MainWindow::OnCommand(int id, int notification, HWND) {
    if (id >= IDC_KIND_FIRST && id <= IDC_KIND_LAST) {
        if (notification == BN_CLICKED) model_->OnKindChanged(static_cast<ImageKind>(id));
        return TRUE;
    }
    switch (id) {
        case IDOK:
            if (model_->OnOk()) End(IDOK);
            return TRUE;
        case IDCANCEL: End(IDCANCEL); return TRUE;
        case IDC_NOTE: model_->OnNote(); return TRUE;
        case IDC_PASSWORD_BUTTON: model_->OnServiceAccess(); return TRUE;
        case IDC_CHANGE_FOLDER: model_->OnChangeFolder(); return TRUE;
        case IDC_UPDATE: model_->OnUpdateCommand(); return TRUE;
        case IDC_READ_VERSION: model_->OnReadVersion(); return TRUE;
        case IDC_READ_BACK: model_->OnReadBack(); return TRUE;
        default: return OnListNotification(id, notification);
    }
}

BOOL MainWindow::OnListNotification(int id, int notification) {
    if (notification != LBN_SELCHANGE || (id != IDC_PORT_LIST && id != IDC_IMAGE_LIST)) return FALSE;
    const int row = static_cast<int>(SendDlgItemMessageW(Handle(), id, LB_GETCURSEL, 0, 0));
    if (id == IDC_PORT_LIST) model_->OnPortSelected(row);
    else model_->OnImageSelected(row);
    return TRUE;
}

INT_PTR MainWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DEVICECHANGE:
            // An adapter plugged in or pulled: offered or dropped at once,
            // except while a run holds its port and a probe would find it busy.
            if (model_ && !running_ &&
                (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE || wParam == DBT_DEVNODES_CHANGED))
                model_->OnDevicesChanged();
            return TRUE;
        case WM_NOTIFY:
            if (reinterpret_cast<const NMHDR*>(lParam)->code != TTN_GETDISPINFOW) return FALSE;
            PortTip(*reinterpret_cast<NMTTDISPINFOW*>(lParam));
            return TRUE;
        case WM_SYSCOMMAND:
            // Only the model's own entry is handled here; the rest is Windows'.
            if ((wParam & 0xFFF0) != IDM_ABOUTBOX) return FALSE;
            model_->OnSysCommand(static_cast<int>(wParam));
            return TRUE;
        case WM_PAINT:
            if (!IsIconic(Handle())) return FALSE;
            PaintMinimised();
            return TRUE;
        case WM_QUERYDRAGICON: return reinterpret_cast<INT_PTR>(icon_);
        default: return FALSE;
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

void MainWindow::ShowFields(const MainFields& fields) {
    SetControlText(Handle(), IDC_WORK_FOLDER, fields.workFolder);
    SetLatin1Text(Handle(), IDC_RECEIVER_SOFTWARE, fields.receiverSoftwareVersion);
    SetLatin1Text(Handle(), IDC_RECEIVER_HARDWARE, fields.receiverHardwareVersion);
    SetLatin1Text(Handle(), IDC_IMAGE_SOFTWARE, fields.imageSoftwareVersion);
    SetLatin1Text(Handle(), IDC_IMAGE_HARDWARE, fields.imageHardwareVersion);
}

void MainWindow::CheckKind(ImageKind kind) { CheckRadioButton(Handle(), IDC_KIND_FIRST, IDC_KIND_LAST, KindId(kind)); }

void MainWindow::FillList(int id, const std::vector<std::string>& entries, int selectedRow) {
    SendDlgItemMessageW(Handle(), id, LB_RESETCONTENT, 0, 0);
    for (const std::string& entry : entries) {
        SendDlgItemMessageW(Handle(), id, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(entry).c_str()));
    }
    SendDlgItemMessageW(Handle(), id, LB_SETCURSEL, static_cast<WPARAM>(selectedRow), 0);
}

void MainWindow::ShowPorts(const std::vector<PortEntry>& ports, int selectedRow) {
    std::vector<std::string> names;
    portTips_.clear();
    for (const PortEntry& port : ports) {
        names.push_back(port.name);
        portTips_.push_back(Widen(port.description.empty() ? port.device : port.device + "\r\n" + port.description));
    }
    FillList(IDC_PORT_LIST, names, selectedRow);
}

void MainWindow::ShowImages(const std::vector<std::string>& names, int selectedRow) {
    FillList(IDC_IMAGE_LIST, names, selectedRow);
}

void MainWindow::EnableControl(MainControl control, bool enabled) {
    EnableWindow(GetDlgItem(Handle(), ControlId(control)), enabled ? TRUE : FALSE);
}

void MainWindow::FocusField(MainField field) {
    SendMessageW(Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(Handle(), FieldId(field))), TRUE);
}

void MainWindow::ShowMessage(const std::string& text) { win::ShowMessage(Handle(), text); }

TransferOutcome MainWindow::RunTransfer(const RunRequest& request) {
    running_ = true;
    const TransferOutcome outcome = ProgressWindow(program_, request, LinkSessions(ports_)).Run(Handle());
    running_ = false;
    return outcome;
}

std::optional<AccessLevel> MainWindow::AskPassword() { return PasswordWindow().Run(Handle()); }

std::optional<OverwriteAnswer> MainWindow::AskOverwrite(const std::string& fileName) {
    OverwriteWindow window(fileName, SystemFileSystem().CurrentFolder());
    const OverwriteModel* answer = window.Run(Handle());
    if (answer == nullptr) return std::nullopt;
    return OverwriteAnswer{answer->Choice() == kRename, answer->NewName()};
}

std::optional<std::string> MainWindow::AskFolder(const std::string& current) {
    return FolderBrowserWindow(current).Run(Handle());
}

void MainWindow::ShowAbout() { AboutWindow().Run(Handle()); }

void MainWindow::PostUpdateCommand() { PostMessageW(Handle(), WM_COMMAND, MAKEWPARAM(IDC_UPDATE, BN_CLICKED), 0); }

}  // namespace tarven::win
