#include "FolderTestSupport.h"
#include "NewFolderDialog.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace tarven {
namespace {

constexpr int kNameEdit = 11559;
constexpr int kOk = 1;

class NewFolderDialogTest : public ::testing::Test {
protected:
    void SetUp() override { scratch.MakeFolders({"Image/Taken"}); }
    test::ScratchFolder scratch;
    test::CapturedMessages messages;
};

TEST_F(NewFolderDialogTest, OkIsEnabledFromTheFirstChangeOnEvenWhenEmptiedAgain) {
    NewFolderDialog dialog(scratch.Sub("Image"), nullptr);
    dialog.show();
    auto* edit = test::Control<QLineEdit>(&dialog, kNameEdit);
    auto* ok = test::Control<QPushButton>(&dialog, kOk);
    EXPECT_FALSE(ok->isEnabled());
    // Enter does nothing while OK is disabled.
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());

    QTest::keyClick(edit, Qt::Key_X);
    EXPECT_TRUE(ok->isEnabled());
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_TRUE(ok->isEnabled());

    // An empty name names the parent itself, which exists.
    ok->click();
    EXPECT_EQ(messages.texts, QStringList{"Fail to create folder!"});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.CreatedPath().isEmpty());
}

TEST_F(NewFolderDialogTest, CreatesTheFolderInsideTheParentAsTyped) {
    for (const QString& parent : {scratch.Sub("Image"), scratch.Sub("Image/")}) {
        const QString name = parent.endsWith('/') ? "With Slash" : "New";
        NewFolderDialog dialog(parent, nullptr);
        QTest::keyClicks(test::Control<QLineEdit>(&dialog, kNameEdit), name);
        test::Control<QPushButton>(&dialog, kOk)->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.CreatedPath(), scratch.Sub("Image/" + name));
        EXPECT_TRUE(QDir(dialog.CreatedPath()).exists());
    }
    EXPECT_TRUE(messages.texts.isEmpty());
}

TEST_F(NewFolderDialogTest, AFailedCreationKeepsTheDialogOpenForAnotherTry) {
    NewFolderDialog dialog(scratch.Sub("Image"), nullptr);
    dialog.show();
    auto* edit = test::Control<QLineEdit>(&dialog, kNameEdit);
    auto* ok = test::Control<QPushButton>(&dialog, kOk);
    QTest::keyClicks(edit, "Taken");
    ok->click();
    EXPECT_EQ(messages.texts, QStringList{"Fail to create folder!"});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(edit->text(), "Taken");

    // The second attempt joins the same parent again.
    edit->setText("Free");
    ok->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.CreatedPath(), scratch.Sub("Image/Free"));
}

TEST_F(NewFolderDialogTest, TheFieldTakesNoFortyFirstCharacter) {
    NewFolderDialog dialog(scratch.Sub("Image"), nullptr);
    auto* edit = test::Control<QLineEdit>(&dialog, kNameEdit);
    QTest::keyClicks(edit, QString(45, QChar('n')));
    EXPECT_EQ(edit->text(), QString(40, QChar('n')));
    test::Control<QPushButton>(&dialog, kOk)->click();
    EXPECT_TRUE(QDir(scratch.Sub("Image/" + QString(40, QChar('n')))).exists());
}

}  // namespace
}  // namespace tarven
