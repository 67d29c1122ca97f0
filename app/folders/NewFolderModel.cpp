#include "NewFolderModel.h"

#include "FileMessages.h"
#include "FolderPaths.h"

#include <optional>

namespace tarven {

NewFolderModel::NewFolderModel(FileSystem& fileSystem, NewFolderView& view, const std::string& parentFolder)
    : fileSystem_(fileSystem), view_(view), parentFolder_(parentFolder) {
    if (parentFolder_.empty() || parentFolder_.back() != kFolderSeparator) parentFolder_ += kFolderSeparator;
}

void NewFolderModel::Open() { view_.EnableOk(changed_); }

void NewFolderModel::OnNameChanged() {
    changed_ = true;
    view_.EnableOk(true);
}

void NewFolderModel::OnOk() {
    // Enter reaches here only through the default button, which is disabled
    // until the first change; a direct call keeps the same rule.
    if (!changed_) return;
    const std::string typed = view_.ReadName();
    if (const std::optional<std::string> message = LengthLimitMessage(typed, kFolderNameLimit)) {
        view_.ShowMessage(*message);
        return;
    }
    name_ = typed;
    // The parent keeps its trailing separator dropped from here on; JoinFolderPath
    // gives the same full path for either spelling, so a second try after a
    // failure builds the same path again.
    if (!parentFolder_.empty() && parentFolder_.back() == kFolderSeparator) parentFolder_.pop_back();
    const std::string fullPath = JoinFolderPath(parentFolder_, name_);
    if (!fileSystem_.MakeFolder(fullPath)) {
        view_.ShowMessage(kFolderNotCreatedText);
        return;
    }
    createdPath_ = fullPath;
    view_.Close(FolderDialogResult::kOk);
}

void NewFolderModel::OnCancel() { view_.Close(FolderDialogResult::kCancel); }

}  // namespace tarven
