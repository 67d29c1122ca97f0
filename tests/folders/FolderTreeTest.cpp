#include "FolderPaths.h"
#include "FolderTestSupport.h"
#include "FolderTree.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTest>

#include <unistd.h>

namespace tarven {
namespace {

// Both helpers take a missing item, so a wrong tree fails the check instead
// of crashing the run.
QStringList ChildTexts(const QTreeWidgetItem* item) {
    if (!item) return {"<no such item>"};
    QStringList texts;
    for (int i = 0; i < item->childCount(); ++i) texts.append(item->child(i)->text(0));
    return texts;
}

int ChildCount(const QTreeWidgetItem* item) { return item ? item->childCount() : -1; }

// The item for `path`, following the tree's current children.
QTreeWidgetItem* ItemAt(FolderTree& tree, const QString& path) {
    QTreeWidgetItem* item = tree.topLevelItem(0);
    for (const QString& name : SplitFolderPath(path)) {
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; item && i < item->childCount() && !next; ++i) {
            if (item->child(i)->text(0) == name) next = item->child(i);
        }
        item = next;
    }
    return item;
}

class FolderTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        scratch.MakeFolders({"Beta", "alpha/inner/deeper", "Gamma/.cache", ".dot/visible", "delta"});
        scratch.MakeFile("file.txt");
        scratch.MakeFile("delta/only-a-file");
    }
    test::ScratchFolder scratch;
    FolderTree tree;
};

TEST_F(FolderTreeTest, ListsVisibleFoldersSortedAndProbesOneLevel) {
    tree.SelectPath(scratch.Path());
    QTreeWidgetItem* base = tree.currentItem();
    ASSERT_NE(base, nullptr);
    ASSERT_EQ(FolderTree::ItemPath(base), scratch.Path());
    EXPECT_EQ(tree.topLevelItemCount(), 1);
    EXPECT_EQ(tree.topLevelItem(0)->text(0), "/");
    EXPECT_FALSE(tree.topLevelItem(0)->icon(0).isNull());

    // Letter case does not split the order; dot folders and files never show.
    EXPECT_EQ(ChildTexts(base), (QStringList{"alpha", "Beta", "delta", "Gamma"}));
    EXPECT_EQ(base->data(0, FolderTree::kPictureRole).toInt(), FolderTree::kOpenFolder);

    // One probed grandchild stands for a folder's contents; a folder whose
    // only sub-folder is hidden, or that holds only files, gets none.
    EXPECT_EQ(ChildTexts(ItemAt(tree, scratch.Sub("alpha"))), QStringList{"inner"});
    EXPECT_EQ(ChildCount(ItemAt(tree, scratch.Sub("alpha/inner"))), 0);
    for (const char* leaf : {"Beta", "delta", "Gamma"}) {
        EXPECT_EQ(ChildCount(ItemAt(tree, scratch.Sub(leaf))), 0) << leaf;
    }
}

TEST_F(FolderTreeTest, SelectPathStopsAtTheDeepestExistingFolder) {
    struct Case {
        QString path;
        QString selected;
    } cases[] = {
        {scratch.Sub("alpha/inner/deeper"), scratch.Sub("alpha/inner/deeper")},
        {scratch.Sub("alpha/missing/deeper"), scratch.Sub("alpha")},
        {scratch.Sub("ALPHA/inner"), scratch.Path()},  // letter case counts
        {scratch.Sub(".dot/visible"), scratch.Path()},  // hidden folders are never walked into
        {scratch.Sub("file.txt"), scratch.Path()},
        {scratch.Path() + "//alpha/", scratch.Sub("alpha")},
        {"/", "/"},
    };
    for (const Case& c : cases) {
        tree.SelectPath(c.path);
        ASSERT_NE(tree.currentItem(), nullptr) << c.path.toStdString();
        EXPECT_EQ(FolderTree::ItemPath(tree.currentItem()), c.selected) << c.path.toStdString();
    }
    // The walk expands every folder on its way, so a selected folder that
    // has sub-folders shows them all, not just the probed one.
    tree.SelectPath(scratch.Sub("alpha/inner"));
    ASSERT_EQ(ChildTexts(tree.currentItem()), QStringList{"deeper"});
    EXPECT_TRUE(tree.currentItem()->isExpanded());
    EXPECT_EQ(tree.topLevelItem(0)->childCount(), ListSubfolders("/").size());
}

TEST_F(FolderTreeTest, ExpansionListsFoldersCreatedSinceAndSwapsPictures) {
    tree.SelectPath(scratch.Path());
    QTreeWidgetItem* base = tree.currentItem();
    ASSERT_NE(base, nullptr);
    QTreeWidgetItem* beta = ItemAt(tree, scratch.Sub("Beta"));
    ASSERT_EQ(ChildCount(beta), 0);

    scratch.MakeFolders({"Beta/new1", "Beta/new0"});
    // Nothing is cached: collapsing and expanding the parent lists and
    // probes again, so Beta now has an expand button.
    base->setExpanded(false);
    EXPECT_EQ(base->data(0, FolderTree::kPictureRole).toInt(), FolderTree::kClosedFolder);
    base->setExpanded(true);
    beta = ItemAt(tree, scratch.Sub("Beta"));
    ASSERT_EQ(ChildCount(beta), 1);

    beta->setExpanded(true);
    EXPECT_EQ(ChildTexts(beta), (QStringList{"new0", "new1"}));
    EXPECT_EQ(beta->data(0, FolderTree::kPictureRole).toInt(), FolderTree::kOpenFolder);
    EXPECT_EQ(tree.currentItem(), beta);

    // A folder that vanished lists as empty and keeps the closed picture.
    QDir(scratch.Sub("Beta/new0")).removeRecursively();
    QDir(scratch.Sub("Beta/new1")).removeRecursively();
    beta->setExpanded(false);
    beta->setExpanded(true);
    EXPECT_EQ(beta->childCount(), 0);
    EXPECT_EQ(beta->data(0, FolderTree::kPictureRole).toInt(), FolderTree::kClosedFolder);
}

// The new-folder dialog builds its path with this; the root case cannot be
// tried for real without writing into "/".
TEST(FolderPathsTest, JoinsWithOneSeparator) {
    EXPECT_EQ(JoinFolderPath("/", "New"), "/New");
    EXPECT_EQ(JoinFolderPath("", "New"), "/New");
    EXPECT_EQ(JoinFolderPath("/a", ""), "/a/");
}

TEST_F(FolderTreeTest, ExpandAllKeyOpensOneLevelAndLinksAreNotProbed) {
    // A link back to its own parent: following it never ends.
    ASSERT_EQ(::symlink("..", QFile::encodeName(scratch.Sub("alpha/inner/up")).constData()), 0);
    tree.SelectPath(scratch.Path());
    QTreeWidgetItem* alpha = ItemAt(tree, scratch.Sub("alpha"));
    ASSERT_NE(alpha, nullptr);
    tree.setCurrentItem(alpha);
    QTest::keyClick(&tree, Qt::Key_Asterisk);
    EXPECT_TRUE(alpha->isExpanded());
    QTreeWidgetItem* inner = ItemAt(tree, scratch.Sub("alpha/inner"));
    ASSERT_NE(inner, nullptr);
    EXPECT_FALSE(inner->isExpanded());

    inner->setExpanded(true);
    EXPECT_EQ(ChildTexts(inner), (QStringList{"deeper", "up"}));
    EXPECT_EQ(ChildCount(ItemAt(tree, scratch.Sub("alpha/inner/up"))), 0);
}

}  // namespace
}  // namespace tarven
