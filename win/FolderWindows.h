// The new folder dialog (template 399) and the overwrite-or-rename dialog
// (template 400) over their models in app/folders.
#pragma once

#include <optional>
#include <string>

#include "FileSystem.h"
#include "NewFolderModel.h"
#include "OverwriteModel.h"
#include "WinDialog.h"

namespace tarven::win {

class NewFolderWindow : public WinDialog, public NewFolderView {
public:
    NewFolderWindow(FileSystem& fileSystem, const std::string& parentFolder)
        : model_(fileSystem, *this, parentFolder) {}
    // The path of the folder created, or nothing when cancelled.
    std::optional<std::string> Run(HWND owner);

    void ShowMessage(const std::string& text) override;
    void Close(FolderDialogResult result) override { End(static_cast<INT_PTR>(result)); }
    void EnableOk(bool enabled) override;
    std::string ReadName() override;

protected:
    BOOL OnInitDialog() override;
    BOOL OnCommand(int id, int notification, HWND control) override;

private:
    NewFolderModel model_;
};

class OverwriteWindow : public WinDialog, public OverwriteView {
public:
    OverwriteWindow(const std::string& fileName, const std::string& currentFolder)
        : model_(*this, fileName, currentFolder) {}
    // The model after OK (its choice and new name), or null when cancelled.
    const OverwriteModel* Run(HWND owner);

    // The choice and the new name's field.
    void CheckChoice(int choice) override;
    void ShowNewNameField(bool visible) override;
    std::string ReadNewName() override;
    void SetNewName(const std::string& name) override;
    // The two lines, the folder browser, messages and the end.
    void ShowWorkingFolder(const std::string& path) override;
    void ShowCaption(const std::string& text) override;
    std::optional<std::string> AskFolder(const std::string& startFolder) override;
    void ShowMessage(const std::string& text) override;
    void Close(FolderDialogResult result) override { End(static_cast<INT_PTR>(result)); }

protected:
    BOOL OnInitDialog() override;
    BOOL OnCommand(int id, int notification, HWND control) override;

private:
    void CentreOverOwner();
    OverwriteModel model_;
};

}  // namespace tarven::win
