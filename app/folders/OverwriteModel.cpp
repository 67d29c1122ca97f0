#include "OverwriteModel.h"

#include "FileMessages.h"
#include "FolderPaths.h"

namespace tarven {

OverwriteModel::OverwriteModel(OverwriteView& view, const std::string& fileName, const std::string& currentFolder)
    : view_(view),
      workingFolder_(LeftCharacters(currentFolder, kStartPathLimit)),
      captionLine_(fileName + " already exists"),
      newName_(fileName) {}

void OverwriteModel::Open() {
    view_.CheckChoice(choice_);
    view_.ShowNewNameField(choice_ == kRename);
    Refresh();
}

void OverwriteModel::Refresh() {
    view_.ShowCaption(captionLine_);
    view_.ShowWorkingFolder(workingFolder_);
    if (choice_ == kRename) view_.SetNewName(newName_);
}

void OverwriteModel::OnChoiceClicked(int radioId) {
    choice_ = radioId - kFirstChoiceId;
    view_.ShowNewNameField(choice_ == kRename);
    Refresh();
}

void OverwriteModel::OnChangeFolder() {
    const std::optional<std::string> chosen = view_.AskFolder(workingFolder_);
    if (!chosen) return;
    workingFolder_ = *chosen;
    Refresh();
}

void OverwriteModel::OnOk() {
    if (choice_ == kRename) {
        newName_ = view_.ReadNewName();
        if (newName_.empty()) {
            view_.ShowMessage(kInvalidFileNameText);
            return;
        }
    }
    view_.Close(FolderDialogResult::kOk);
}

void OverwriteModel::OnCancel() { view_.Close(FolderDialogResult::kCancel); }

}  // namespace tarven
