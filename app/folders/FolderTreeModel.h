// The folder tree of the folder browser: one root and below it the folders
// of the file system, listed only when their parent is expanded. The model
// owns the items; its view draws them and reports the user's expansions and
// selections back.
#pragma once

#include "FileSystem.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarven {

// Picture indexes of the tree's items.
enum class FolderPicture { kClosed = 0, kOpen = 1 };

// One item of the tree. Items live until their parent's children are
// listed again or the tree is rebuilt, and the view names them by address.
struct FolderNode {
    std::string name;
    FolderPicture picture = FolderPicture::kClosed;
    FolderNode* parent = nullptr;
    std::vector<std::unique_ptr<FolderNode>> children;
};

class FolderTreeView {
public:
    virtual ~FolderTreeView() = default;
    // Replaces everything shown by `root` and the items below it; nullptr
    // leaves the tree empty.
    virtual void ShowTree(const FolderNode* root) = 0;
    // Replaces the items shown below `node` by its children (and theirs).
    virtual void ShowChildren(const FolderNode& node) = 0;
    virtual void ShowPicture(const FolderNode& node) = 0;
    // Opens or closes `node` without reporting it as the user's expansion.
    virtual void ShowExpanded(const FolderNode& node, bool expanded) = 0;
    // Selects `node` (nullptr: nothing) without reporting it back.
    virtual void ShowSelected(const FolderNode* node) = 0;
    // The wait cursor on or off; calls nest.
    virtual void ShowWaitCursor(bool on) = 0;
};

class FolderTreeModel {
public:
    // `onSelected` hears every change of the selection, by the user or by
    // the model itself.
    FolderTreeModel(FileSystem& fileSystem, FolderTreeView& view, std::function<void(const FolderNode*)> onSelected);

    // Rebuilds the tree from the root and walks down `path`, expanding each
    // folder on the way, as far as the names match existing folders (letter
    // case counts). The deepest folder reached ends up selected.
    void SelectPath(const std::string& path);

    // Replaces the children of `node` by the visible sub-folders of the
    // folder `path`, each probed one level down so that only folders with
    // sub-folders of their own get an expand button. A symbolic link to a
    // folder is listed but not probed, so it never gets one.
    void FillChildren(FolderNode& node, const std::string& path);

    // The view reports: `node` is expanding (or collapsing). Lists it again
    // when it expands, sets its picture and selects it.
    void OnExpanding(const FolderNode& node, bool expanding);
    // The view reports: the user selected `node` (nullptr: nothing).
    void OnSelectionChanged(const FolderNode* node);
    // The view reports a double-click on `node`; true when the model takes
    // it (a folder without sub-folders: the caller's OK), false when the
    // view's own expand-or-collapse applies.
    bool TakesDoubleClick(const FolderNode* node) const;

    // The full path an item stands for: "/" for the root, "/a/b" below it.
    static std::string NodePath(const FolderNode& node);

private:
    FolderNode& AddChild(FolderNode& parent, const std::string& name, std::size_t index);
    void ExpandFromModel(FolderNode& node);
    void Select(const FolderNode* node);

    FileSystem& fileSystem_;
    FolderTreeView& view_;
    std::function<void(const FolderNode*)> onSelected_;
    std::unique_ptr<FolderNode> root_;
};

}  // namespace tarven
