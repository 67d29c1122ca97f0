// The main window: ports, kinds, the image list and its version fields, the
// OK command's limits and the About entry.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "AboutDialog.h"
#include "DialogTemplate.h"
#include "MainDialog.h"
#include "UiTestSupport.h"

namespace tarven {
namespace {

using test::Messages;
using test::TempFolder;

QStringList Listed(const MainDialog& window) {
    QStringList names;
    const auto* list = FindControlAs<QListWidget>(&window, 11982);
    for (int i = 0; i < list->count(); ++i) names << list->item(i)->text();
    return names;
}

int SelectedRow(const MainDialog& window) { return FindControlAs<QListWidget>(&window, 11982)->currentRow(); }

QString Text(const MainDialog& window, int id) { return FindControlAs<QLineEdit>(&window, id)->text(); }

bool Enabled(const MainDialog& window, int id) { return FindControl(&window, id)->isEnabled(); }

TEST(MainWindowImageList, EachKindListsTheFilesOfItsSizes) {
    TempFolder folder;
    folder.File(QStringLiteral("a.bin"), 1048576);
    folder.File(QStringLiteral("B.BIN"), 2097152);
    folder.File(QStringLiteral("c.bix"), 65536);
    folder.File(QStringLiteral("d.bi"), 66559);
    folder.File(QStringLiteral("e.bin"), 66560);
    folder.Folder(QStringLiteral("g.bin"));
    folder.File(QStringLiteral("h.bin"), 180224);
    folder.File(QStringLiteral("i.bin"), 30720);
    Messages messages;
    MainDialog window;
    EXPECT_EQ(window.ImageKind(), KindFullImage);
    EXPECT_TRUE(FindControlAs<QRadioButton>(&window, 11993)->isChecked());
    EXPECT_EQ(window.WorkFolder(), folder.Path());
    EXPECT_EQ(FindControlAs<QLabel>(&window, 11975)->text(), folder.Path());

    const std::pair<int, QStringList> expected[] = {
        {11990, {"c.bix", "i.bin"}},
        {11991, {"h.bin"}},
        {11992, {"a.bin", "B.BIN"}},
        {11995, {"c.bix", "d.bi", "i.bin"}},
        {11994, {"a.bin", "B.BIN"}},
    };
    for (const auto& [kind, names] : expected) {
        test::ClickControl(&window, kind);
        EXPECT_EQ(window.ImageKind(), kind);
        EXPECT_EQ(Listed(window), names) << kind;
        EXPECT_EQ(SelectedRow(window), 0) << kind;
        EXPECT_TRUE(Enabled(window, 11971)) << kind;
    }
    EXPECT_TRUE(messages.texts.isEmpty());
}

TEST(MainWindowImageList, SoftwareKindsShareTheListAndItsSelection) {
    TempFolder folder;
    folder.File(QStringLiteral("one.bin"), 1048576);
    folder.File(QStringLiteral("two.bin"), 1048576);
    folder.File(QStringLiteral("chip.bin"), 1000);
    MainDialog window;
    FindControlAs<QListWidget>(&window, 11982)->setCurrentRow(1);
    for (int kind : {11992, 11994, 11993}) {
        test::ClickControl(&window, kind);
        EXPECT_EQ(SelectedRow(window), 1) << kind;
    }
    test::ClickControl(&window, 11995);
    EXPECT_EQ(Listed(window), QStringList{"chip.bin"});
    test::ClickControl(&window, 11992);
    EXPECT_EQ(Listed(window), (QStringList{"one.bin", "two.bin"}));
    EXPECT_EQ(SelectedRow(window), 0);
}

TEST(MainWindowImageList, HiddenTwoFileKindWantsExactlyTwoFiles) {
    TempFolder folder;
    Messages messages;
    MainDialog window;
    auto* fullX = FindControlAs<QRadioButton>(&window, 11996);
    EXPECT_TRUE(fullX->isHidden());

    fullX->click();  // empty list: no complaint
    EXPECT_TRUE(messages.texts.isEmpty());
    EXPECT_TRUE(Enabled(window, 11971));

    folder.File(QStringLiteral("1.bin"), 100);
    folder.File(QStringLiteral("2.bin"), 100);
    fullX->click();
    EXPECT_TRUE(messages.texts.isEmpty());
    EXPECT_TRUE(Enabled(window, 11971));

    folder.File(QStringLiteral("3.bin"), 100);
    fullX->click();
    EXPECT_EQ(messages.texts, QStringList{"The number of the file is incorrect! Please check it"});
    EXPECT_FALSE(Enabled(window, 11971));
    // Any other kind gives the button back.
    test::ClickControl(&window, 11995);
    EXPECT_TRUE(Enabled(window, 11971));
}

TEST(MainWindowImageVersions, FollowKindAndSelection) {
    TempFolder folder;
    QByteArray record(36, '\xFF');
    record.replace(14, 6, QByteArray("V2.07\0", 6));
    record.replace(28, 4, QByteArray("H3\0\0", 4));
    folder.File(QStringLiteral("a.bin"), 1048576);
    folder.Put(QStringLiteral("a.bin"), 913328, record);
    folder.File(QStringLiteral("b.bin"), 1048576);
    Messages messages;
    MainDialog window;
    EXPECT_EQ(Text(window, 1007), QStringLiteral("V2.07"));
    EXPECT_EQ(Text(window, 1008), QStringLiteral("H3"));

    // A file gone since the list was made: reported, the fields stay.
    QFile::remove(folder.Path() + QStringLiteral("/b.bin"));
    FindControlAs<QListWidget>(&window, 11982)->setCurrentRow(1);
    EXPECT_EQ(messages.texts, QStringList{"File open error"});
    EXPECT_EQ(Text(window, 1007), QStringLiteral("V2.07"));

    folder.File(QStringLiteral("c.bin"), 65536);
    test::ClickControl(&window, 11995);
    EXPECT_EQ(Listed(window), QStringList{"c.bin"});
    EXPECT_EQ(Text(window, 1007), QStringLiteral("Unavailable"));
    EXPECT_EQ(Text(window, 1008), QStringLiteral("Unavailable"));
}

TEST(MainWindowPorts, FirstOpenPortIsShownButOnlyAClickChangesTheIndex) {
    TempFolder folder;
    test::Pty com3, com5;
    test::PortMap ports({{2, com3.Device()}, {4, com5.Device()}});
    MainDialog window;
    auto* list = FindControlAs<QListWidget>(&window, 11973);
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text(), QStringLiteral("COM3"));
    EXPECT_EQ(list->item(1)->toolTip(), QString::fromStdString(com5.Device()));
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_EQ(window.Settings().wReserved, 0);
    list->setCurrentRow(1);
    EXPECT_EQ(window.Settings().wReserved, 4);
    EXPECT_EQ(window.Settings().BaudRate, 115200u);
}

TEST(MainWindowPorts, AClickOnTheHighlightedEntryChoosesIt) {
    TempFolder folder;
    test::Pty com2;
    test::PortMap ports({{1, com2.Device()}});
    const std::function<void(QListWidget*)> clicks[] = {
        [](QListWidget* list) {
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
        },
        [](QListWidget* list) { QTest::keyClick(list, Qt::Key_Space); },
        [](QListWidget* list) { QTest::keyClick(list, Qt::Key_Up); },
        [](QListWidget* list) { QTest::keyClick(list, Qt::Key_Return); },
    };
    for (const auto& click : clicks) {
        MainDialog window;
        window.show();
        auto* list = FindControlAs<QListWidget>(&window, 11973);
        ASSERT_EQ(list->currentRow(), 0);
        EXPECT_EQ(window.Settings().wReserved, 0);  // COM1, absent: highlighting COM2 is not choosing it
        click(list);
        EXPECT_EQ(window.Settings().wReserved, 1);
    }
}

TEST(MainWindowClosing, EnterChecksTheLimitsAndSortieAlwaysCloses) {
    TempFolder folder;
    std::vector<std::uint8_t> block(kVersionBlockSize, 0);
    std::fill(block.begin() + 64, block.end(), 'S');  // 36 characters, over the limit of 20
    test::FakeWorker worker(test::FakeWorker::VersionBlock(block));
    Messages messages;
    MainDialog window;
    window.show();
    test::ClickControl(&window, 11970);
    ASSERT_EQ(Text(window, 1000), QString(36, 'S'));

    FindControl(&window, 11982)->setFocus();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    EXPECT_EQ(messages.texts, QStringList{"Please enter no more than 20 characters."});
    EXPECT_TRUE(window.isVisible());

    test::ClickControl(&window, 2);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Rejected);
}

TEST(MainWindowClosing, ThePlaceholderNeverBlocksEnter) {
    TempFolder folder;
    Messages messages;
    MainDialog window;
    window.show();
    ASSERT_EQ(Text(window, 1008), QStringLiteral("Unavailable"));
    FindControl(&window, 11982)->setFocus();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    EXPECT_TRUE(messages.texts.isEmpty());
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Accepted);
}

TEST(MainWindowAbout, ContextMenuEntryAndNoteButtonOpenTheAboutBox) {
    TempFolder folder;
    MainDialog window;
    const QList<QAction*> actions = window.actions();
    ASSERT_EQ(actions.size(), 1);
    EXPECT_EQ(actions.first()->text(), QStringLiteral("&About Veltra..."));
    EXPECT_EQ(window.contextMenuPolicy(), Qt::ActionsContextMenu);

    int opened = 0;
    auto thank = [&opened](AboutDialog* about) {
        ++opened;
        test::ClickControl(about, 1);
    };
    test::WhenModal<AboutDialog>(thank);
    actions.first()->trigger();
    test::WhenModal<AboutDialog>(thank);
    test::ClickControl(&window, 11976);
    EXPECT_EQ(opened, 2);
}

TEST(MainWindowReadBackButton, HiddenButKeptEnabledForDataKinds) {
    TempFolder folder;
    MainDialog window;
    QWidget* readBack = FindControl(&window, 11974);
    EXPECT_TRUE(readBack->isHidden());
    EXPECT_FALSE(readBack->isEnabled());
    test::ClickControl(&window, 11991);
    EXPECT_TRUE(readBack->isEnabled());
    test::ClickControl(&window, 11995);
    EXPECT_FALSE(readBack->isEnabled());
}

}  // namespace
}  // namespace tarven
