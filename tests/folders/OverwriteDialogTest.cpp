#include "FolderDialog.h"
#include "FolderTestSupport.h"
#include "FolderTree.h"
#include "OverwriteDialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

namespace tarven {
namespace {

constexpr int kCaptionLine = 11650;
constexpr int kOverwriteRadio = 11965;
constexpr int kRenameRadio = 11967;
constexpr int kNewName = 11968;
constexpr int kOk = 1;
constexpr int kCancel = 2;
constexpr int kChangeFolder = 11649;
constexpr int kWorkingFolderLine = 11648;

class OverwriteDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        scratch.MakeFolders({"Work", "Elsewhere/Deeper"});
        QDir::setCurrent(scratch.Sub("Work"));
        dialog = std::make_unique<OverwriteDialog>("main.bin", nullptr);
        dialog->show();
        edit = test::Control<QLineEdit>(dialog.get(), kNewName);
    }
    void Click(int id) { test::Control<QAbstractButton>(dialog.get(), id)->click(); }

    test::ScratchFolder scratch;
    test::CapturedMessages messages;
    std::unique_ptr<OverwriteDialog> dialog;
    QLineEdit* edit = nullptr;
};

TEST_F(OverwriteDialogTest, OpensOnOverwriteAndOkClosesWithoutReadingTheName) {
    EXPECT_EQ(test::Control<QLabel>(dialog.get(), kCaptionLine)->text(), "main.bin already exists");
    EXPECT_EQ(test::Control<QLabel>(dialog.get(), kWorkingFolderLine)->text(), scratch.Sub("Work"));
    EXPECT_TRUE(test::Control<QRadioButton>(dialog.get(), kOverwriteRadio)->isChecked());
    EXPECT_FALSE(edit->isVisible());
    Click(kOk);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(dialog->Choice(), kOverwrite);
    EXPECT_EQ(dialog->NewName(), "main.bin");
}

TEST_F(OverwriteDialogTest, ARefreshPutsTheStoredNameBackOverWhatWasTyped) {
    Click(kRenameRadio);
    EXPECT_EQ(dialog->Choice(), kRename);
    ASSERT_TRUE(edit->isVisible());
    EXPECT_EQ(edit->text(), "main.bin");

    edit->clear();
    QTest::keyClicks(edit, "typed.bin");
    Click(kOverwriteRadio);
    EXPECT_FALSE(edit->isVisible());
    Click(kRenameRadio);
    EXPECT_EQ(edit->text(), "main.bin");
    EXPECT_EQ(dialog->NewName(), "main.bin");

    // Only OK with the rename choice stores what the field holds.
    edit->setText("other.bin");
    Click(kOk);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(dialog->Choice(), kRename);
    EXPECT_EQ(dialog->NewName(), "other.bin");
}

TEST_F(OverwriteDialogTest, AnEmptyNewNameIsRefusedEachTimeAndStaysStored) {
    Click(kRenameRadio);
    edit->clear();
    Click(kOk);
    Click(kOk);
    EXPECT_EQ(messages.texts, (QStringList{"Invalid file name!", "Invalid file name!"}));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_NE(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(dialog->NewName(), "");

    // The refused name was stored, so a refresh shows it, empty.
    Click(kRenameRadio);
    EXPECT_EQ(edit->text(), "");
    edit->setText(" ");  // anything not empty is taken as it is
    Click(kOk);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(dialog->NewName(), " ");
}

TEST_F(OverwriteDialogTest, AFolderChosenInTheBrowserBecomesTheWorkingFolder) {
    Click(kRenameRadio);
    edit->setText("typed.bin");
    test::WhenModal<FolderDialog>([this](FolderDialog* browser) {
        EXPECT_EQ(browser->StartPath(), scratch.Sub("Work"));
        browser->Tree()->SelectPath(scratch.Sub("Elsewhere/Deeper"));
        browser->accept();
    });
    Click(kChangeFolder);
    EXPECT_EQ(dialog->WorkingFolder(), scratch.Sub("Elsewhere/Deeper"));
    EXPECT_EQ(test::Control<QLabel>(dialog.get(), kWorkingFolderLine)->text(), scratch.Sub("Elsewhere/Deeper"));
    EXPECT_EQ(edit->text(), "main.bin");

    // A cancelled browser changes nothing here and restores its start.
    test::WhenModal<FolderDialog>([this](FolderDialog* browser) {
        browser->Tree()->SelectPath(scratch.Path());
        browser->reject();
    });
    Click(kChangeFolder);
    EXPECT_EQ(dialog->WorkingFolder(), scratch.Sub("Elsewhere/Deeper"));

    // Cancelling this dialog leaves the current directory where the browser put it.
    Click(kCancel);
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(QDir::currentPath(), scratch.Sub("Elsewhere/Deeper"));
}

}  // namespace
}  // namespace tarven
