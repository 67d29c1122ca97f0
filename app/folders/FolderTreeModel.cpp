#include "FolderTreeModel.h"

#include "FolderPaths.h"

#include <optional>

namespace tarven {

namespace {

// The wait cursor for the lifetime of the object.
class WaitCursor {
public:
    explicit WaitCursor(FolderTreeView& view) : view_(view) { view_.ShowWaitCursor(true); }
    ~WaitCursor() { view_.ShowWaitCursor(false); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    FolderTreeView& view_;
};

}  // namespace

FolderTreeModel::FolderTreeModel(FileSystem& fileSystem, FolderTreeView& view,
                                 std::function<void(const FolderNode*)> onSelected)
    : fileSystem_(fileSystem), view_(view), onSelected_(std::move(onSelected)) {}

std::string FolderTreeModel::NodePath(const FolderNode& node) {
    std::vector<std::string> names;
    const FolderNode* it = &node;
    for (; it->parent; it = it->parent) names.insert(names.begin(), it->name);
    return PathFromNames(it->name, names);
}

FolderNode& FolderTreeModel::AddChild(FolderNode& parent, const std::string& name, std::size_t index) {
    auto child = std::make_unique<FolderNode>();
    child->name = name;
    child->parent = &parent;
    return **parent.children.insert(parent.children.begin() + std::ptrdiff_t(index), std::move(child));
}

void FolderTreeModel::FillChildren(FolderNode& node, const std::string& path) {
    node.children.clear();
    const std::vector<std::string> names = ListSubfolders(fileSystem_, path);
    for (std::size_t i = 0; i < names.size(); ++i) {
        FolderNode& child = AddChild(node, names[i], i);
        // A link to a folder is not looked into: it gets no expand button, so
        // no expansion can follow a link loop or wander into /proc through it.
        const std::string childPath = JoinFolderPath(path, names[i]);
        if (fileSystem_.IsSymbolicLink(childPath)) continue;
        if (const std::optional<std::string> inner = FirstSubfolder(fileSystem_, childPath)) {
            AddChild(child, *inner, 0);
        }
    }
    view_.ShowChildren(node);
}

void FolderTreeModel::OnExpanding(const FolderNode& shown, bool expanding) {
    // The view hands back the model's own items, which it may only read.
    auto& node = const_cast<FolderNode&>(shown);
    if (expanding) FillChildren(node, NodePath(node));
    node.picture = expanding && !node.children.empty() ? FolderPicture::kOpen : FolderPicture::kClosed;
    view_.ShowPicture(node);
    Select(&node);
}

void FolderTreeModel::ExpandFromModel(FolderNode& node) {
    OnExpanding(node, true);
    view_.ShowExpanded(node, !node.children.empty());
}

void FolderTreeModel::Select(const FolderNode* node) {
    view_.ShowSelected(node);
    OnSelectionChanged(node);
}

void FolderTreeModel::OnSelectionChanged(const FolderNode* node) {
    if (onSelected_) onSelected_(node);
}

bool FolderTreeModel::TakesDoubleClick(const FolderNode* node) const { return node && node->children.empty(); }

void FolderTreeModel::SelectPath(const std::string& path) {
    WaitCursor waitCursor(view_);
    auto root = std::make_unique<FolderNode>(FolderNode{RootOfPath(path), FolderPicture::kClosed, nullptr, {}});
    // A stand-in child lets the root be expanded; the expansion lists the
    // real folders in its place.
    AddChild(*root, root->name, 0);
    // The view lets go of the old items before they go.
    view_.ShowTree(root.get());
    root_ = std::move(root);
    FolderNode* current = root_.get();
    ExpandFromModel(*current);
    if (!current->children.empty()) {
        for (const std::string& name : NamesBelowRoot(path)) {
            FolderNode* next = nullptr;
            for (const auto& child : current->children) {
                if (child->name == name) {
                    next = child.get();
                    break;
                }
            }
            if (!next) break;
            ExpandFromModel(*next);
            current = next;
            if (current->children.empty()) break;
        }
    }
    Select(current);
}

}  // namespace tarven
