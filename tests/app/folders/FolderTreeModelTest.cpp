#include "FolderModelSupport.h"

#include <unistd.h>

namespace tarven {
namespace {

using Names = std::vector<std::string>;
using test::ChildNames;
using test::NodeAt;

class FolderTreeModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        scratch.MakeFolders({"Beta", "alpha/inner/deeper", "Gamma/.cache", ".dot/visible", "delta"});
        scratch.MakeFile("file.txt");
        scratch.MakeFile("delta/only-a-file");
    }
    const FolderNode* At(const std::string& path) const { return NodeAt(view.root, path); }
    std::string SelectedPath() const { return heard ? tree.NodePath(*heard) : "<none>"; }

    test::ScratchFolder scratch;
    UnixFileSystem fileSystem;
    test::FakeBrowserView view;
    const FolderNode* heard = nullptr;  // the selection as the model last reported it
    FolderTreeModel tree{fileSystem, view, [this](const FolderNode* node) { heard = node; }};
};

TEST_F(FolderTreeModelTest, ListsVisibleFoldersSortedAndProbesOneLevel) {
    tree.SelectPath(scratch.Path());
    const FolderNode* base = heard;
    ASSERT_NE(base, nullptr);
    ASSERT_EQ(FolderTreeModel::NodePath(*base), scratch.Path());
    EXPECT_EQ(view.root->name, "/");
    EXPECT_EQ(view.selected, base);
    EXPECT_TRUE(view.expanded[base]);
    EXPECT_EQ(view.waitDepth, 0);
    EXPECT_EQ(view.waitShown, 1);

    // Letter case does not split the order; dot folders and files never show.
    EXPECT_EQ(ChildNames(base), (Names{"alpha", "Beta", "delta", "Gamma"}));
    EXPECT_EQ(base->picture, FolderPicture::kOpen);

    // One probed grandchild stands for a folder's contents; a folder whose
    // only sub-folder is hidden, or that holds only files, gets none.
    EXPECT_EQ(ChildNames(At(scratch.Sub("alpha"))), Names{"inner"});
    EXPECT_EQ(ChildNames(At(scratch.Sub("alpha/inner"))), Names{});
    for (const char* leaf : {"Beta", "delta", "Gamma"}) {
        EXPECT_EQ(ChildNames(At(scratch.Sub(leaf))), Names{}) << leaf;
    }
}

TEST_F(FolderTreeModelTest, SelectPathStopsAtTheDeepestExistingFolder) {
    struct Case {
        std::string path;
        std::string selected;
    } cases[] = {
        {scratch.Sub("alpha/inner/deeper"), scratch.Sub("alpha/inner/deeper")},
        {scratch.Sub("alpha/missing/deeper"), scratch.Sub("alpha")},
        {scratch.Sub("ALPHA/inner"), scratch.Path()},   // letter case counts
        {scratch.Sub(".dot/visible"), scratch.Path()},  // hidden folders are never walked into
        {scratch.Sub("file.txt"), scratch.Path()},
        {scratch.Path() + "//alpha/", scratch.Sub("alpha")},
        {"/", "/"},
    };
    for (const Case& c : cases) {
        tree.SelectPath(c.path);
        EXPECT_EQ(SelectedPath(), c.selected) << c.path;
        EXPECT_EQ(view.selected, heard) << c.path;
    }
    // The walk expands every folder on its way, so a selected folder that
    // has sub-folders shows them all, not just the probed one.
    tree.SelectPath(scratch.Sub("alpha/inner"));
    ASSERT_EQ(ChildNames(heard), Names{"deeper"});
    EXPECT_TRUE(view.expanded[heard]);
    EXPECT_EQ(view.root->children.size(), ListSubfolders(fileSystem, "/").size());
}

TEST_F(FolderTreeModelTest, ExpansionListsFoldersCreatedSinceAndSwapsPictures) {
    tree.SelectPath(scratch.Path());
    const FolderNode* base = heard;
    ASSERT_NE(base, nullptr);
    ASSERT_EQ(ChildNames(At(scratch.Sub("Beta"))), Names{});

    scratch.MakeFolders({"Beta/new1", "Beta/new0"});
    // Nothing is cached: collapsing and expanding the parent lists and
    // probes again, so Beta now has an expand button.
    tree.OnExpanding(*base, false);
    EXPECT_EQ(base->picture, FolderPicture::kClosed);
    tree.OnExpanding(*base, true);
    const FolderNode* beta = At(scratch.Sub("Beta"));
    ASSERT_EQ(ChildNames(beta).size(), 1u);

    tree.OnExpanding(*beta, true);
    EXPECT_EQ(ChildNames(beta), (Names{"new0", "new1"}));
    EXPECT_EQ(beta->picture, FolderPicture::kOpen);
    EXPECT_EQ(heard, beta);
    EXPECT_EQ(view.selected, beta);

    // A folder that vanished lists as empty and keeps the closed picture.
    for (const char* gone : {"Beta/new0", "Beta/new1"}) std::filesystem::remove_all(scratch.Sub(gone));
    tree.OnExpanding(*beta, false);
    tree.OnExpanding(*beta, true);
    EXPECT_EQ(ChildNames(beta), Names{});
    EXPECT_EQ(beta->picture, FolderPicture::kClosed);
}

TEST_F(FolderTreeModelTest, LinksAreListedButNotProbedAndOnlyLeavesTakeADoubleClick) {
    // A link back to its own parent: following it never ends.
    ASSERT_EQ(::symlink("..", scratch.Sub("alpha/inner/up").c_str()), 0);
    tree.SelectPath(scratch.Sub("alpha/inner"));
    EXPECT_EQ(ChildNames(heard), (Names{"deeper", "up"}));
    EXPECT_EQ(ChildNames(At(scratch.Sub("alpha/inner/up"))), Names{});

    EXPECT_FALSE(tree.TakesDoubleClick(heard));
    EXPECT_FALSE(tree.TakesDoubleClick(nullptr));
    EXPECT_TRUE(tree.TakesDoubleClick(At(scratch.Sub("alpha/inner/deeper"))));
}

}  // namespace
}  // namespace tarven
