// The folder browser (template 396) over FolderBrowserModel: a tree view with
// the two folder pictures, the drive list and the path line. The model owns
// the items; the tree view only shows them and reports expansions,
// selections and double-clicks back.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <optional>
#include <string>
#include <unordered_map>

#include "FolderBrowserModel.h"
#include "WinDialog.h"

namespace tarven::win {

class FolderBrowserWindow : public WinDialog, public FolderBrowserView, public FolderTreeView {
public:
    explicit FolderBrowserWindow(const std::string& startPath);
    ~FolderBrowserWindow() override;
    // The chosen folder after OK, or nothing after cancel.
    std::optional<std::string> Run(HWND owner);

    // FolderBrowserView
    void ShowMessage(const std::string& text) override;
    void Close(FolderDialogResult result) override { End(static_cast<INT_PTR>(result)); }
    FolderTreeView& TreeView() override { return *this; }
    void FillDriveList(const std::vector<std::string>& entries) override;
    void SelectDrive(int index) override;
    void ShowPath(const std::string& shown, const std::string& whole) override;
    bool PathFits(const std::string& text) override;
    std::optional<std::string> AskNewFolder(const std::string& parent) override;

    // FolderTreeView: whole tree or one folder's items, then each item's state.
    void ShowTree(const FolderNode* root) override;
    void ShowChildren(const FolderNode& node) override;
    void ShowSelected(const FolderNode* node) override;
    void ShowExpanded(const FolderNode& node, bool expanded) override;
    void ShowPicture(const FolderNode& node) override;
    void ShowWaitCursor(bool on) override;

protected:
    BOOL OnInitDialog() override;
    BOOL OnCommand(int id, int notification, HWND control) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    INT_PTR OnTreeNotify(const NMHDR& header);
    HWND Tree() const { return GetDlgItem(Handle(), IDC_TREE); }
    void InsertItems(const FolderNode& node, HTREEITEM parent);
    static constexpr int IDC_TREE = 11555;

    FolderBrowserModel model_;
    HIMAGELIST pictures_ = nullptr;
    std::unordered_map<const FolderNode*, HTREEITEM> items_;
    bool quiet_ = false;  // the model itself moves the tree: nothing to report back
    int waitDepth_ = 0;
};

}  // namespace tarven::win
