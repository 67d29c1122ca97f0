#include "FolderBrowserModel.h"

#include "DriveList.h"
#include "FileMessages.h"
#include "FolderPaths.h"

namespace tarven {

FolderBrowserModel::FolderBrowserModel(FileSystem& fileSystem, FolderBrowserView& view, const std::string& startPath)
    : fileSystem_(fileSystem),
      view_(view),
      tree_(fileSystem, view.TreeView(), [this](const FolderNode* node) { OnSelected(node); }),
      startPath_(DropTrailingSeparator(
          LeftCharacters(startPath.empty() ? fileSystem.CurrentFolder() : startPath, kStartPathLimit))) {}

void FolderBrowserModel::Open() {
    driveEntries_ = fileSystem_.DriveEntries();
    view_.FillDriveList(driveEntries_);
    GoToFolder(startPath_);
}

void FolderBrowserModel::GoToFolder(const std::string& path) {
    const std::string walked = LeftCharacters(path, kWalkPathLimit);
    if (!StartsAtRoot(walked)) return;
    busy_ = true;
    view_.SelectDrive(DriveEntryIndexForPath(driveEntries_, walked));
    tree_.SelectPath(walked);
    busy_ = false;
    ShowSelectedPath();
}

void FolderBrowserModel::OnSelected(const FolderNode* node) {
    selectedPath_ = node ? FolderTreeModel::NodePath(*node) : std::string();
    if (!busy_) ShowSelectedPath();
}

void FolderBrowserModel::ShowSelectedPath() {
    // A deep path keeps its start and its last folder inside the dialog.
    const std::string shown =
        ShortenPath(selectedPath_, [this](const std::string& text) { return view_.PathFits(text); });
    view_.ShowPath(shown, selectedPath_);
}

void FolderBrowserModel::OnDriveChosen(int index) {
    if (busy_ || index < 0 || std::size_t(index) >= driveEntries_.size()) return;
    const std::optional<std::string> drive = DriveOfEntry(driveEntries_[std::size_t(index)]);
    if (!drive) return;
    view_.TreeView().ShowWaitCursor(true);
    const bool changed = fileSystem_.ChangeDrive(*drive);
    view_.TreeView().ShowWaitCursor(false);
    if (!changed) {
        view_.ShowMessage(kDeviceErrorText);
        GoToFolder(selectedPath_);
        return;
    }
    tree_.SelectPath(fileSystem_.CurrentFolder());
}

void FolderBrowserModel::OnNewFolder() {
    if (const std::optional<std::string> created = view_.AskNewFolder(selectedPath_)) tree_.SelectPath(*created);
}

void FolderBrowserModel::OnOk() {
    // The caller learns whether this worked by the folder it finds current.
    // A folder whose path is too long to be current (Windows' MAX_PATH, which
    // the tree can walk past) would leave the old folder current unsaid: the
    // dialog says so and stays open for a shorter choice.
    if (!fileSystem_.SetCurrentFolder(selectedPath_) &&
        CharacterCount(selectedPath_) > fileSystem_.CurrentFolderLimit()) {
        view_.ShowMessage(FolderPathTooLongText(fileSystem_.CurrentFolderLimit()));
        return;
    }
    view_.Close(FolderDialogResult::kOk);
}

void FolderBrowserModel::OnCancel() {
    fileSystem_.SetCurrentFolder(startPath_);
    view_.Close(FolderDialogResult::kCancel);
}

}  // namespace tarven
