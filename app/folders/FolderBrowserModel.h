// The folder browser: choose the working folder in a folder tree, switch
// between drives (the root and removable volumes on POSIX), create a folder.
// OK makes the chosen folder the process's current folder; cancel puts the
// current folder back to the one the browser was opened on.
#pragma once

#include "FileSystem.h"
#include "FolderTreeModel.h"
#include "FolderView.h"

#include <optional>
#include <string>
#include <vector>

namespace tarven {

class FolderBrowserView : public FolderDialogView {
public:
    virtual FolderTreeView& TreeView() = 0;
    virtual void FillDriveList(const std::vector<std::string>& entries) = 0;
    // Selects an entry without reporting it as the user's choice.
    virtual void SelectDrive(int index) = 0;
    // The path line shows `shown`, which ShortenPath made from `whole` with
    // PathFits; the view may offer `whole` too (a tooltip).
    virtual void ShowPath(const std::string& shown, const std::string& whole) = 0;
    virtual bool PathFits(const std::string& text) = 0;
    // Runs the new-folder dialog on `parent`; the created folder's path, or
    // nothing when it was cancelled.
    virtual std::optional<std::string> AskNewFolder(const std::string& parent) = 0;
};

class FolderBrowserModel {
public:
    // Opens on `startPath`, or on the current folder when it is empty.
    FolderBrowserModel(FileSystem& fileSystem, FolderBrowserView& view, const std::string& startPath);

    // Fills the drive list and goes to the start folder.
    void Open();

    // Brings the drive list and the tree to `path`. A path that does not
    // start at the root ("/") changes nothing.
    void GoToFolder(const std::string& path);

    // What the view reports.
    void OnDriveChosen(int index);
    void OnNewFolder();
    void OnOk();
    void OnCancel();

    FolderTreeModel& Tree() { return tree_; }

    // The folder selected in the tree ("/" for the root, "/a/b" below it);
    // empty when nothing is selected.
    const std::string& SelectedPath() const { return selectedPath_; }
    const std::string& StartPath() const { return startPath_; }

private:
    void OnSelected(const FolderNode* node);
    void ShowSelectedPath();

    FileSystem& fileSystem_;
    FolderBrowserView& view_;
    FolderTreeModel tree_;
    std::vector<std::string> driveEntries_;
    std::string selectedPath_;
    std::string startPath_;
    // Set while GoToFolder itself moves the drive list and the tree, so that
    // neither counts as the user's doing.
    bool busy_ = false;
};

}  // namespace tarven
