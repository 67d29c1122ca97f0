#include "FolderBrowserWindow.h"

#include "FolderWindows.h"
#include "ResourceIds.h"
#include "SystemFileSystem.h"
#include "WinDpi.h"
#include "WinMessageBox.h"
#include "WinText.h"

namespace tarven::win {

namespace {

const FolderNode* NodeOf(HWND tree, HTREEITEM item) {
    if (item == nullptr) return nullptr;
    TVITEMW data{};
    data.mask = TVIF_PARAM;
    data.hItem = item;
    TreeView_GetItem(tree, &data);
    return reinterpret_cast<const FolderNode*>(data.lParam);
}

}  // namespace

FolderBrowserWindow::FolderBrowserWindow(const std::string& startPath) : model_(SystemFileSystem(), *this, startPath) {}

FolderBrowserWindow::~FolderBrowserWindow() {
    if (pictures_ != nullptr) ImageList_Destroy(pictures_);
}

std::optional<std::string> FolderBrowserWindow::Run(HWND owner) {
    if (RunModal(owner, IDD_FOLDER) != static_cast<INT_PTR>(FolderDialogResult::kOk)) return std::nullopt;
    return model_.SelectedPath();
}

BOOL FolderBrowserWindow::OnInitDialog() {
    // The pictures are 16 x 15 pixels, drawn for 96 DPI.
    const int width = ScaledPixels(Handle(), 16), height = ScaledPixels(Handle(), 15);
    pictures_ = ImageList_Create(width, height, ILC_COLOR24 | ILC_MASK, 2, 2);
    for (int bitmap : {IDB_FOLDER_CLOSED, IDB_FOLDER_OPEN}) {
        auto picture =
            static_cast<HBITMAP>(LoadImageW(Instance(), MAKEINTRESOURCEW(bitmap), IMAGE_BITMAP, width, height, 0));
        ImageList_AddMasked(pictures_, picture, RGB(255, 255, 255));
        DeleteObject(picture);
    }
    TreeView_SetImageList(Tree(), pictures_, TVSIL_NORMAL);
    model_.Open();
    SetFocus(Tree());
    return FALSE;
}

BOOL FolderBrowserWindow::OnCommand(int id, int notification, HWND) {
    if (id == IDC_DRIVE_LIST && notification == CBN_SELCHANGE) {
        const LRESULT row = SendDlgItemMessageW(Handle(), IDC_DRIVE_LIST, CB_GETCURSEL, 0, 0);
        const LRESULT index =
            row == CB_ERR ? -1 : SendDlgItemMessageW(Handle(), IDC_DRIVE_LIST, CB_GETITEMDATA, row, 0);
        model_.OnDriveChosen(static_cast<int>(index));
    } else if (id == IDC_NEW_FOLDER) {
        model_.OnNewFolder();
    } else if (id == IDOK) {
        model_.OnOk();
    } else if (id == IDCANCEL) {
        model_.OnCancel();
    } else {
        return FALSE;
    }
    return TRUE;
}

INT_PTR FolderBrowserWindow::OnMessage(UINT message, WPARAM, LPARAM lParam) {
    if (message != WM_NOTIFY) return FALSE;
    const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
    if (header.idFrom != IDC_TREE) return FALSE;
    SetWindowLongPtrW(Handle(), DWLP_MSGRESULT, OnTreeNotify(header));
    return TRUE;
}

// The value the tree gets back: TRUE stops an expansion or a double-click's own handling.
INT_PTR FolderBrowserWindow::OnTreeNotify(const NMHDR& header) {
    switch (header.code) {
        case TVN_ITEMEXPANDINGW: {
            const auto& change = reinterpret_cast<const NMTREEVIEWW&>(header);
            const FolderNode* node = reinterpret_cast<const FolderNode*>(change.itemNew.lParam);
            if (node != nullptr && !quiet_) model_.Tree().OnExpanding(*node, (change.action & TVE_EXPAND) != 0);
            return FALSE;
        }
        case TVN_SELCHANGEDW:
            if (!quiet_) model_.Tree().OnSelectionChanged(NodeOf(Tree(), TreeView_GetSelection(Tree())));
            return FALSE;
        case NM_DBLCLK: {
            TVHITTESTINFO hit{};
            GetCursorPos(&hit.pt);
            ScreenToClient(Tree(), &hit.pt);
            const FolderNode* node = NodeOf(Tree(), TreeView_HitTest(Tree(), &hit));
            if (!model_.Tree().TakesDoubleClick(node)) return FALSE;
            model_.OnOk();
            return TRUE;
        }
        default: return FALSE;
    }
}

void FolderBrowserWindow::InsertItems(const FolderNode& node, HTREEITEM parent) {
    const std::wstring name = Widen(node.name);
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
    insert.item.pszText = const_cast<wchar_t*>(name.c_str());
    insert.item.iImage = insert.item.iSelectedImage = static_cast<int>(node.picture);
    insert.item.lParam = reinterpret_cast<LPARAM>(&node);
    HTREEITEM item = TreeView_InsertItem(Tree(), &insert);
    items_[&node] = item;
    for (const auto& child : node.children) InsertItems(*child, item);
}

void FolderBrowserWindow::ShowTree(const FolderNode* root) {
    quiet_ = true;
    TreeView_DeleteAllItems(Tree());
    items_.clear();
    if (root != nullptr) InsertItems(*root, TVI_ROOT);
    quiet_ = false;
}

void FolderBrowserWindow::ShowChildren(const FolderNode& node) {
    const auto found = items_.find(&node);
    if (found == items_.end()) return;
    quiet_ = true;
    while (HTREEITEM child = TreeView_GetChild(Tree(), found->second)) TreeView_DeleteItem(Tree(), child);
    for (const auto& child : node.children) InsertItems(*child, found->second);
    quiet_ = false;
}

void FolderBrowserWindow::ShowPicture(const FolderNode& node) {
    const auto found = items_.find(&node);
    if (found == items_.end()) return;
    TVITEMW data{};
    data.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    data.hItem = found->second;
    data.iImage = data.iSelectedImage = static_cast<int>(node.picture);
    TreeView_SetItem(Tree(), &data);
}

void FolderBrowserWindow::ShowExpanded(const FolderNode& node, bool expanded) {
    const auto found = items_.find(&node);
    if (found != items_.end()) TreeView_Expand(Tree(), found->second, expanded ? TVE_EXPAND : TVE_COLLAPSE);
}

void FolderBrowserWindow::ShowSelected(const FolderNode* node) {
    const auto found = node == nullptr ? items_.end() : items_.find(node);
    quiet_ = true;
    TreeView_SelectItem(Tree(), found == items_.end() ? nullptr : found->second);
    quiet_ = false;
}

void FolderBrowserWindow::ShowWaitCursor(bool on) {
    waitDepth_ += on ? 1 : -1;
    SetCursor(LoadCursorW(nullptr, waitDepth_ > 0 ? IDC_WAIT : IDC_ARROW));
}

void FolderBrowserWindow::FillDriveList(const std::vector<std::string>& entries) {
    SendDlgItemMessageW(Handle(), IDC_DRIVE_LIST, CB_RESETCONTENT, 0, 0);
    // The list sorts itself; each row remembers its place in the model's list.
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const LRESULT row = SendDlgItemMessageW(Handle(), IDC_DRIVE_LIST, CB_ADDSTRING, 0,
                                                reinterpret_cast<LPARAM>(Widen(entries[i]).c_str()));
        SendDlgItemMessageW(Handle(), IDC_DRIVE_LIST, CB_SETITEMDATA, row, static_cast<LPARAM>(i));
    }
}

void FolderBrowserWindow::SelectDrive(int index) {
    const LRESULT rows = SendDlgItemMessageW(Handle(), IDC_DRIVE_LIST, CB_GETCOUNT, 0, 0);
    for (LRESULT row = 0; row < rows; ++row) {
        if (SendDlgItemMessageW(Handle(), IDC_DRIVE_LIST, CB_GETITEMDATA, row, 0) == index) {
            SendDlgItemMessageW(Handle(), IDC_DRIVE_LIST, CB_SETCURSEL, row, 0);
        }
    }
}

void FolderBrowserWindow::ShowPath(const std::string& shown, const std::string&) {
    SetControlText(Handle(), IDC_SELECTED_PATH, shown);
}

bool FolderBrowserWindow::PathFits(const std::string& text) {
    HWND line = GetDlgItem(Handle(), IDC_SELECTED_PATH);
    RECT client;
    GetClientRect(line, &client);
    HDC dc = GetDC(line);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(line, WM_GETFONT, 0, 0)));
    const std::wstring wide = Widen(text);
    SIZE size{};
    GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(line, dc);
    return size.cx <= client.right - client.left;
}

std::optional<std::string> FolderBrowserWindow::AskNewFolder(const std::string& parent) {
    return NewFolderWindow(SystemFileSystem(), parent).Run(Handle());
}

void FolderBrowserWindow::ShowMessage(const std::string& text) { win::ShowMessage(Handle(), text); }

}  // namespace tarven::win
