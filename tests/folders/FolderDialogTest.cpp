#include "FolderDialog.h"
#include "FolderTestSupport.h"
#include "FolderTree.h"
#include "NewFolderDialog.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace tarven {
namespace {

constexpr int kPathLine = 11558;
constexpr int kDriveList = 11556;
constexpr int kNewFolderButton = 11557;

class FolderDialogTest : public ::testing::Test {
protected:
    void SetUp() override { scratch.MakeFolders({"Image/Sub", "Other", "Leaf"}); }
    // The whole path the line stands for; a long one shows shortened, whole in its tooltip.
    QString PathLine(const FolderDialog& dialog) { return test::Control<QLabel>(&dialog, kPathLine)->toolTip(); }
    test::ScratchFolder scratch;
    test::CapturedMessages messages;
};

TEST_F(FolderDialogTest, OpensOnTheStartFolderWithoutItsTrailingSeparator) {
    FolderDialog dialog(nullptr, scratch.Sub("Image/"));
    EXPECT_EQ(dialog.StartPath(), scratch.Sub("Image"));
    EXPECT_EQ(dialog.SelectedPath(), scratch.Sub("Image"));
    EXPECT_EQ(PathLine(dialog), scratch.Sub("Image"));
    EXPECT_EQ(test::Control<QComboBox>(&dialog, kDriveList)->currentText(), "[-/-]");

    FolderDialog atRoot(nullptr, "/");
    EXPECT_EQ(atRoot.StartPath(), "/");
    EXPECT_EQ(atRoot.SelectedPath(), "/");
    EXPECT_EQ(PathLine(atRoot), "/");

    QDir::setCurrent(scratch.Sub("Other"));
    FolderDialog onCurrent(nullptr);
    EXPECT_EQ(onCurrent.SelectedPath(), scratch.Sub("Other"));

    // A path that does not start at the root moves nothing.
    onCurrent.GoToFolder("Image");
    EXPECT_EQ(onCurrent.SelectedPath(), scratch.Sub("Other"));
}

TEST_F(FolderDialogTest, LongPathIsShortenedInTheMiddleAndWholeInTheTooltip) {
    const QString deep = QStringLiteral("images_of_the_bench_number_four/received_on_the_eighth/checked_before_use");
    scratch.MakeFolders({deep});
    FolderDialog dialog(nullptr, scratch.Sub(deep));
    const auto* line = test::Control<QLabel>(&dialog, kPathLine);
    EXPECT_EQ(dialog.SelectedPath(), scratch.Sub(deep));
    EXPECT_EQ(line->toolTip(), scratch.Sub(deep));
    EXPECT_LE(line->sizeHint().width(), line->width());
    EXPECT_TRUE(dialog.rect().contains(line->geometry()));
    EXPECT_TRUE(line->text().startsWith(QLatin1Char('/')));
    EXPECT_TRUE(line->text().endsWith(QStringLiteral("checked_before_use")));
}

TEST_F(FolderDialogTest, OkTakesTheSelectedFolderAndCancelReturnsToTheStart) {
    {
        FolderDialog dialog(nullptr, scratch.Sub("Image"));
        dialog.Tree()->SelectPath(scratch.Sub("Other"));
        EXPECT_EQ(PathLine(dialog), scratch.Sub("Other"));
        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(QDir::currentPath(), scratch.Sub("Other"));
    }
    {
        FolderDialog dialog(nullptr, scratch.Sub("Image"));
        dialog.Tree()->SelectPath(scratch.Sub("Leaf"));
        dialog.reject();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_EQ(QDir::currentPath(), scratch.Sub("Image"));
    }
    {
        FolderDialog dialog(nullptr, scratch.Sub("Image"));
        dialog.Tree()->SelectPath("/");
        dialog.accept();
        EXPECT_EQ(QDir::currentPath(), "/");
    }
}

TEST_F(FolderDialogTest, DoubleClickTakesOnlyAFolderWithoutSubfolders) {
    FolderDialog dialog(nullptr, scratch.Sub("Image"));
    dialog.show();
    FolderTree* tree = dialog.Tree();
    auto doubleClick = [tree](QTreeWidgetItem* item) {
        tree->scrollToItem(item);
        QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
    };

    QTreeWidgetItem* image = tree->currentItem();
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->childCount(), 1);
    doubleClick(image);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);

    tree->SelectPath(scratch.Sub("Leaf"));
    ASSERT_NE(tree->currentItem(), nullptr);
    doubleClick(tree->currentItem());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(QDir::currentPath(), scratch.Sub("Leaf"));
}

TEST_F(FolderDialogTest, ChoosingAVolumeMovesThereAndAFailureRestoresTheView) {
    FolderDialog dialog(nullptr, scratch.Sub("Image/Sub"));
    auto* drives = test::Control<QComboBox>(&dialog, kDriveList);

    drives->addItem("[-" + scratch.Sub("gone") + "-]");
    drives->setCurrentIndex(drives->count() - 1);
    emit drives->activated(drives->count() - 1);
    EXPECT_EQ(messages.texts, QStringList{"Device error!"});
    EXPECT_EQ(drives->currentIndex(), 0);
    EXPECT_EQ(dialog.SelectedPath(), scratch.Sub("Image/Sub"));

    drives->addItem("[-" + scratch.Sub("Other") + "-]");
    emit drives->activated(drives->count() - 1);
    EXPECT_EQ(messages.texts.size(), 1);
    EXPECT_EQ(QDir::currentPath(), scratch.Sub("Other"));
    EXPECT_EQ(dialog.SelectedPath(), scratch.Sub("Other"));
    EXPECT_EQ(PathLine(dialog), scratch.Sub("Other"));

    // An entry that names no volume is not acted on.
    drives->addItem("-]");
    emit drives->activated(drives->count() - 1);
    EXPECT_EQ(dialog.SelectedPath(), scratch.Sub("Other"));
    EXPECT_EQ(messages.texts.size(), 1);
}

TEST_F(FolderDialogTest, NewFolderIsCreatedUnderTheSelectionAndSelected) {
    FolderDialog dialog(nullptr, scratch.Sub("Image"));
    test::WhenModal<NewFolderDialog>([](NewFolderDialog* newFolder) {
        QTest::keyClicks(test::Control<QLineEdit>(newFolder, 11559), "Fresh");
        test::Control<QPushButton>(newFolder, 1)->click();
    });
    test::Control<QPushButton>(&dialog, kNewFolderButton)->click();

    EXPECT_TRUE(QDir(scratch.Sub("Image/Fresh")).exists());
    EXPECT_EQ(dialog.SelectedPath(), scratch.Sub("Image/Fresh"));
    EXPECT_EQ(PathLine(dialog), scratch.Sub("Image/Fresh"));
    ASSERT_NE(dialog.Tree()->currentItem(), nullptr);
    EXPECT_EQ(dialog.Tree()->currentItem()->childCount(), 0);
}

}  // namespace
}  // namespace tarven
