// Asks for a folder name and creates that folder inside a given parent.
#pragma once

#include "FileSystem.h"
#include "FolderView.h"

#include <cstddef>
#include <string>

namespace tarven {

// The longest folder name the dialog takes; its field takes no more.
inline constexpr std::size_t kFolderNameLimit = 40;

class NewFolderView : public FolderDialogView {
public:
    virtual void EnableOk(bool enabled) = 0;
    // The name field as the user left it.
    virtual std::string ReadName() = 0;
};

class NewFolderModel {
public:
    NewFolderModel(FileSystem& fileSystem, NewFolderView& view, const std::string& parentFolder);

    // OK starts disabled; the view shows an empty field limited to
    // kFolderNameLimit characters.
    void Open();
    // The view reports any change of the name field.
    void OnNameChanged();
    // Creates the folder; closes only when that worked.
    void OnOk();
    void OnCancel();

    // The full path of the folder created; empty until one was.
    const std::string& CreatedPath() const { return createdPath_; }

private:
    FileSystem& fileSystem_;
    NewFolderView& view_;
    std::string name_;
    // Kept with a trailing separator until OK builds the full path from it.
    std::string parentFolder_;
    std::string createdPath_;
    // OK stays disabled until the user first changes the name, and enabled
    // from then on, even if the field is emptied again.
    bool changed_ = false;
};

}  // namespace tarven
