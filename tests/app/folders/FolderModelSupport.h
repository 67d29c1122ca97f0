// Shared pieces of the folder models' tests: a scratch folder tree on disk,
// and a browser view that records what the models draw and answers them.
#pragma once

#include "FileSystemUnix.h"
#include "FolderBrowserModel.h"
#include "FolderPaths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

namespace tarven::test {

// A fresh folder under the system's temporary folder, removed with all in
// it. The process's current folder is restored when it goes.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarven-folders-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) ADD_FAILURE() << "no scratch folder";
        path_ = std::filesystem::canonical(pattern).string();
    }
    ~ScratchFolder() {
        std::filesystem::current_path(saved_);
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    // The folder's real path (no symbolic links in it).
    const std::string& Path() const { return path_; }
    std::string Sub(const std::string& relative) const { return path_ + '/' + relative; }
    void MakeFolders(const std::vector<std::string>& relatives) const {
        for (const std::string& relative : relatives) std::filesystem::create_directories(Sub(relative));
    }
    void MakeFile(const std::string& relative, const std::string& content = "data") const {
        std::ofstream(Sub(relative)) << content;
    }

private:
    std::filesystem::path saved_ = std::filesystem::current_path();
    std::string path_;
};

// The names of a node's children, in order; a missing node says so.
inline std::vector<std::string> ChildNames(const FolderNode* node) {
    if (!node) return {"<no such item>"};
    std::vector<std::string> names;
    for (const auto& child : node->children) names.push_back(child->name);
    return names;
}

// The node for `path` below the root, following the current children.
inline const FolderNode* NodeAt(const FolderNode* node, const std::string& path) {
    for (const std::string& name : SplitFolderPath(path)) {
        const FolderNode* next = nullptr;
        for (std::size_t i = 0; node && i < node->children.size() && !next; ++i) {
            if (node->children[i]->name == name) next = node->children[i].get();
        }
        node = next;
    }
    return node;
}

// A browser view with its tree: what was drawn last, and the answers.
class FakeBrowserView : public FolderBrowserView, public FolderTreeView {
public:
    std::vector<std::string> drives;
    int driveRow = -1;
    std::string pathShown, pathWhole;
    std::size_t pathWidth = 1000;  // in bytes
    std::vector<std::string> messages;
    std::optional<FolderDialogResult> closed;
    std::map<const FolderNode*, bool> expanded;
    const FolderNode* root = nullptr;
    const FolderNode* selected = nullptr;
    int waitDepth = 0, waitShown = 0;
    std::function<std::optional<std::string>(const std::string&)> answerNewFolder;

    FolderTreeView& TreeView() override { return *this; }
    void FillDriveList(const std::vector<std::string>& entries) override { drives = entries; }
    void SelectDrive(int index) override { driveRow = index; }
    void ShowPath(const std::string& shown, const std::string& whole) override { pathShown = shown, pathWhole = whole; }
    bool PathFits(const std::string& text) override { return text.size() <= pathWidth; }
    std::optional<std::string> AskNewFolder(const std::string& parent) override { return answerNewFolder(parent); }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void Close(FolderDialogResult result) override { closed = result; }

    void ShowTree(const FolderNode* shown) override { root = shown, expanded.clear(), selected = nullptr; }
    void ShowChildren(const FolderNode&) override {}
    void ShowPicture(const FolderNode&) override {}
    void ShowExpanded(const FolderNode& node, bool isExpanded) override { expanded[&node] = isExpanded; }
    void ShowSelected(const FolderNode* node) override { selected = node; }
    void ShowWaitCursor(bool on) override { waitDepth += on ? 1 : -1, waitShown += on; }
};

}  // namespace tarven::test
