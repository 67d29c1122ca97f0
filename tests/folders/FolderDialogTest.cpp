// The Qt folder dialogs' wiring: widgets reach their models and show what
// the models say. The decisions themselves are tested in tests/app/folders.
#include "CanOpenFile.h"
#include "DialogTemplate.h"
#include "FolderDialog.h"
#include "FolderMessages.h"
#include "FolderTree.h"
#include "NewFolderDialog.h"
#include "OverwriteDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace tarven {
namespace {

const QString kDeep = "images_of_the_bench_number_four/received_on_the_eighth/checked_before_use";

class FolderDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const QString& f : {QString("Image/Sub/Deeper/x"), QString("Leaf"), kDeep}) QDir().mkpath(Sub(f));
        road.SetHook([this](QWidget*, const QString& text) { messages.append(text); });
    }
    void TearDown() override { QDir::setCurrent(savedCurrent); }
    QString Sub(const QString& relative) const { return QDir(scratch.path()).canonicalPath() + '/' + relative; }
    // Runs `step` on the modal dialog of type T that the next call opens.
    template <typename T>
    void WhenModal(std::function<void(T*)> step) {
        QTimer::singleShot(0, [step] { step(qobject_cast<T*>(QApplication::activeModalWidget())); });
    }

    QTemporaryDir scratch;
    QString savedCurrent = QDir::currentPath();
    MessageRoad road;
    QStringList messages;
};

TEST_F(FolderDialogTest, TheBrowserShowsItsModelAndTakesALeafOnDoubleClick) {
    FolderDialog dialog(road, nullptr, Sub("Image/"));
    dialog.show();
    auto* line = FindControlAs<QLabel>(&dialog, 11558);
    EXPECT_EQ(line->toolTip(), Sub("Image"));
    EXPECT_EQ(FindControlAs<QComboBox>(&dialog, 11556)->currentText(), "[-/-]");
    FolderTree* tree = dialog.Tree();
    ASSERT_NE(tree->currentItem(), nullptr);
    ASSERT_EQ(tree->currentItem()->childCount(), 1);
    EXPECT_FALSE(tree->topLevelItem(0)->icon(0).isNull());

    // "*" opens one level, not the whole file system below; the model lists it.
    QTreeWidgetItem* sub = tree->currentItem()->child(0);
    tree->setCurrentItem(sub);
    QTest::keyClick(tree, Qt::Key_Asterisk);
    EXPECT_TRUE(sub->isExpanded());
    ASSERT_EQ(sub->childCount(), 1);
    EXPECT_EQ(sub->child(0)->childCount(), 1);
    EXPECT_FALSE(sub->child(0)->isExpanded());
    EXPECT_EQ(line->toolTip(), Sub("Image/Sub"));

    // A long path is shortened to fit, whole in the tooltip.
    dialog.Model().GoToFolder(ToPath(Sub(kDeep)));
    EXPECT_EQ(line->toolTip(), Sub(kDeep));
    EXPECT_LE(line->sizeHint().width(), line->width());
    EXPECT_TRUE(line->text().startsWith('/') && line->text().endsWith("checked_before_use"));

    dialog.Model().Tree().SelectPath(ToPath(Sub("Leaf")));
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(tree->currentItem()).center());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(QDir::currentPath(), Sub("Leaf"));
}

TEST_F(FolderDialogTest, NewFolderRunsItsDialogAndCancelReturnsToTheStart) {
    FolderDialog dialog(road, nullptr, Sub("Image"));
    WhenModal<NewFolderDialog>([](NewFolderDialog* newFolder) {
        auto* edit = FindControlAs<QLineEdit>(newFolder, 11559);
        auto* ok = FindControlAs<QPushButton>(newFolder, 1);
        EXPECT_FALSE(ok->isEnabled());
        QTest::keyClicks(edit, QString(45, QChar('n')));  // the field takes no 41st character
        EXPECT_TRUE(ok->isEnabled());
        EXPECT_EQ(edit->text(), QString(40, QChar('n')));
        edit->setText("Fresh");
        ok->click();
    });
    FindControlAs<QPushButton>(&dialog, 11557)->click();
    EXPECT_TRUE(QDir(Sub("Image/Fresh")).exists());
    EXPECT_EQ(FindControlAs<QLabel>(&dialog, 11558)->toolTip(), Sub("Image/Fresh"));

    FindControlAs<QPushButton>(&dialog, 2)->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(QDir::currentPath(), Sub("Image"));
}

TEST_F(FolderDialogTest, TheOverwriteDialogRunsTheBrowserAndReadsItsField) {
    QDir::setCurrent(Sub("Image"));
    OverwriteDialog dialog(road, "main.bin", nullptr);
    dialog.show();
    auto* edit = FindControlAs<QLineEdit>(&dialog, 11968);
    EXPECT_EQ(FindControlAs<QLabel>(&dialog, 11650)->text(), "main.bin already exists");
    EXPECT_FALSE(edit->isVisible());
    FindControlAs<QRadioButton>(&dialog, 11967)->click();
    ASSERT_TRUE(edit->isVisible());
    EXPECT_EQ(edit->text(), "main.bin");
    edit->clear();
    FindControlAs<QPushButton>(&dialog, 1)->click();
    EXPECT_TRUE(dialog.isVisible());

    WhenModal<FolderDialog>([this](FolderDialog* browser) {
        EXPECT_EQ(browser->StartPath(), Sub("Image"));
        browser->Model().Tree().SelectPath(ToPath(Sub("Leaf")));
        browser->accept();
    });
    FindControlAs<QPushButton>(&dialog, 11649)->click();
    EXPECT_EQ(FindControlAs<QLabel>(&dialog, 11648)->text(), Sub("Leaf"));
    QTest::keyClicks(edit, "other.bin");
    FindControlAs<QPushButton>(&dialog, 1)->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.NewName(), "other.bin");

    EXPECT_FALSE(CanOpenFile(road, Sub("missing.bin"), false, true));
    EXPECT_EQ(messages, (QStringList{"Invalid file name!", Sub("missing.bin") + "\nFile not found !"}));
}

}  // namespace
}  // namespace tarven
