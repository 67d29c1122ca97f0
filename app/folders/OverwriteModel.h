// Asked before a read-back writes a file whose name is taken already in the
// working folder: write over it, or write under another name, possibly
// after moving to another working folder.
#pragma once

#include "FolderView.h"

#include <optional>
#include <string>

namespace tarven {

// The answer, as the offset of the checked radio button's id from 11965.
// There is no 1: id 11966 is not in the dialog. Test for kRename.
enum OverwriteChoice { kOverwrite = 0, kRename = 2 };

// The id of the first choice's radio button; a choice's button is this plus
// the choice.
inline constexpr int kFirstChoiceId = 11965;

class OverwriteView : public FolderDialogView {
public:
    virtual void ShowCaption(const std::string& text) = 0;
    virtual void ShowWorkingFolder(const std::string& path) = 0;
    // Checks the radio button of `choice`, clearing the other.
    virtual void CheckChoice(int choice) = 0;
    virtual void ShowNewNameField(bool visible) = 0;
    virtual void SetNewName(const std::string& name) = 0;
    virtual std::string ReadNewName() = 0;
    // Runs the folder browser on `startFolder`; the folder chosen, or nothing
    // when it was cancelled.
    virtual std::optional<std::string> AskFolder(const std::string& startFolder) = 0;
};

class OverwriteModel {
public:
    // `fileName` is the bare name the caller is about to write; the working
    // folder starts as `currentFolder`, the process's current folder.
    OverwriteModel(OverwriteView& view, const std::string& fileName, const std::string& currentFolder);

    void Open();
    // The view reports a click on the radio button `radioId`.
    void OnChoiceClicked(int radioId);
    void OnChangeFolder();
    // With kRename the new name must not be empty; otherwise the dialog
    // stays open.
    void OnOk();
    void OnCancel();

    // kOverwrite or kRename.
    int Choice() const { return choice_; }
    // The name to write under when Choice() is kRename; the name passed in
    // until OK takes the field's text.
    const std::string& NewName() const { return newName_; }
    // The working folder shown; the current folder has been moved there too
    // when the user chose it in the folder browser.
    const std::string& WorkingFolder() const { return workingFolder_; }

private:
    // Writes the stored values into the controls: the caption, the working
    // folder and, while renaming, the stored new name, replacing whatever
    // was typed since.
    void Refresh();

    OverwriteView& view_;
    std::string workingFolder_;
    std::string captionLine_;
    std::string newName_;
    int choice_ = kOverwrite;
};

}  // namespace tarven
