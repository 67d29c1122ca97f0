#include "FolderWindows.h"

#include "FolderBrowserWindow.h"
#include "ResourceIds.h"
#include "WinMessageBox.h"
#include "WinText.h"

namespace tarven::win {

std::optional<std::string> NewFolderWindow::Run(HWND owner) {
    if (RunModal(owner, IDD_NEW_FOLDER) != static_cast<INT_PTR>(FolderDialogResult::kOk)) return std::nullopt;
    return model_.CreatedPath();
}

BOOL NewFolderWindow::OnInitDialog() {
    SendDlgItemMessageW(Handle(), IDC_FOLDER_NAME, EM_LIMITTEXT, kFolderNameLimit, 0);
    model_.Open();
    return TRUE;
}

BOOL NewFolderWindow::OnCommand(int id, int notification, HWND) {
    if (id == IDC_FOLDER_NAME && notification == EN_CHANGE) model_.OnNameChanged();
    else if (id == IDOK) model_.OnOk();
    else if (id == IDCANCEL) model_.OnCancel();
    else return FALSE;
    return TRUE;
}

void NewFolderWindow::ShowMessage(const std::string& text) { win::ShowMessage(Handle(), text); }

void NewFolderWindow::EnableOk(bool enabled) { EnableWindow(GetDlgItem(Handle(), IDOK), enabled ? TRUE : FALSE); }

std::string NewFolderWindow::ReadName() { return ControlText(Handle(), IDC_FOLDER_NAME); }

const OverwriteModel* OverwriteWindow::Run(HWND owner) {
    if (RunModal(owner, IDD_OVERWRITE) != static_cast<INT_PTR>(FolderDialogResult::kOk)) return nullptr;
    return &model_;
}

BOOL OverwriteWindow::OnInitDialog() {
    CentreOverOwner();
    model_.Open();
    return TRUE;
}

void OverwriteWindow::CentreOverOwner() {
    HWND owner = GetWindow(Handle(), GW_OWNER);
    if (owner == nullptr) return;
    RECT outer, own;
    GetWindowRect(owner, &outer);
    GetWindowRect(Handle(), &own);
    const int x = outer.left + ((outer.right - outer.left) - (own.right - own.left)) / 2;
    const int y = outer.top + ((outer.bottom - outer.top) - (own.bottom - own.top)) / 2;
    SetWindowPos(Handle(), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL OverwriteWindow::OnCommand(int id, int notification, HWND) {
    if ((id == IDC_OVERWRITE || id == IDC_RENAME) && notification == BN_CLICKED) model_.OnChoiceClicked(id);
    else if (id == IDC_CHANGE_WORK_FOLDER) model_.OnChangeFolder();
    else if (id == IDOK) model_.OnOk();
    else if (id == IDCANCEL) model_.OnCancel();
    else return FALSE;
    return TRUE;
}

void OverwriteWindow::ShowMessage(const std::string& text) { win::ShowMessage(Handle(), text); }

void OverwriteWindow::ShowCaption(const std::string& text) { SetControlText(Handle(), IDC_OVERWRITE_CAPTION, text); }

void OverwriteWindow::ShowWorkingFolder(const std::string& path) {
    SetControlText(Handle(), IDC_OVERWRITE_FOLDER, path);
}

void OverwriteWindow::CheckChoice(int choice) {
    CheckRadioButton(Handle(), IDC_OVERWRITE, IDC_RENAME, kFirstChoiceId + choice);
}

void OverwriteWindow::ShowNewNameField(bool visible) {
    ShowWindow(GetDlgItem(Handle(), IDC_NEW_NAME), visible ? SW_SHOW : SW_HIDE);
}

void OverwriteWindow::SetNewName(const std::string& name) { SetControlText(Handle(), IDC_NEW_NAME, name); }

std::string OverwriteWindow::ReadNewName() { return ControlText(Handle(), IDC_NEW_NAME); }

std::optional<std::string> OverwriteWindow::AskFolder(const std::string& startFolder) {
    return FolderBrowserWindow(startFolder).Run(Handle());
}

}  // namespace tarven::win
