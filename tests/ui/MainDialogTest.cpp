// The Qt main window as a view: its controls draw the model and forward what
// the technician does, and the dialogs it runs hand back what was chosen.
// The decisions themselves are tested on the model (tests/app).
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QTest>

#include "AboutDialog.h"
#include "DialogTemplate.h"
#include "MainDialog.h"
#include "PasswordDialog.h"
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

QString Text(const MainDialog& window, int id) { return FindControlAs<QLineEdit>(&window, id)->text(); }

TEST(MainWindowView, ControlsDrawTheModelAndForwardKindsAndSelections) {
    TempFolder folder;
    QByteArray record(36, '\xFF');
    record.replace(14, 6, QByteArray("V2.\xE9\0", 6));  // a Latin-1 text
    folder.File(QStringLiteral("a.bin"), 1048576);
    folder.Put(QStringLiteral("a.bin"), 913328, record);
    folder.File(QStringLiteral("b.bin"), 1048576);
    folder.File(QStringLiteral("c.bix"), 65536);
    Messages messages;
    MainDialog window(messages.program, test::NoPorts());
    EXPECT_TRUE(FindControlAs<QRadioButton>(&window, 11993)->isChecked());
    EXPECT_EQ(FindControlAs<QLabel>(&window, 11975)->text(), folder.Path());
    EXPECT_EQ(Listed(window), (QStringList{"a.bin", "b.bin"}));
    EXPECT_EQ(Text(window, 1007), QStringLiteral("V2.\u00E9"));
    EXPECT_EQ(Text(window, 1000), QStringLiteral("Unavailable"));

    // The model reads the versions of the file it was told is selected.
    FindControlAs<QListWidget>(&window, 11982)->setCurrentRow(1);
    EXPECT_EQ(Text(window, 1007), QString());

    // Created hidden; the read-back button's state is kept all the same.
    EXPECT_TRUE(FindControl(&window, 11996)->isHidden());
    QWidget* readBack = FindControl(&window, 11974);
    EXPECT_TRUE(readBack->isHidden());
    EXPECT_FALSE(readBack->isEnabled());
    test::ClickControl(&window, 11990);
    EXPECT_EQ(window.Model().Kind(), ImageKind::FactoryData);
    EXPECT_EQ(Listed(window), QStringList{"c.bix"});
    EXPECT_EQ(FindControlAs<QListWidget>(&window, 11982)->currentRow(), 0);
    EXPECT_TRUE(readBack->isEnabled());
    EXPECT_TRUE(messages.texts.isEmpty());

    // The About entry lives in the context menu, the window manager owning the system menu.
    ASSERT_EQ(window.actions().size(), 1);
    EXPECT_EQ(window.actions().first()->text(), QStringLiteral("&About Veltra..."));
    bool opened = false;
    test::WhenModal<AboutDialog>([&opened](AboutDialog* about) { opened = true, about->accept(); });
    window.actions().first()->trigger();
    EXPECT_TRUE(opened);
}

TEST(MainWindowView, AClickOnTheHighlightedPortEntryChoosesIt) {
    TempFolder folder;
    test::Pty com2;
    const PortMap ports = test::PortsOn({{1, com2.Device()}});
    const std::function<void(QListWidget*)> clicks[] = {
        [](QListWidget* list) {
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
        },
        [](QListWidget* list) { QTest::keyClick(list, Qt::Key_Space); },
        [](QListWidget* list) { QTest::keyClick(list, Qt::Key_Up); },
        [](QListWidget* list) { QTest::keyClick(list, Qt::Key_Return); },
    };
    // The port a run is handed is the one the technician chose.
    const test::ScriptedSessions sessions(test::FinishingRun(kResultFailure));
    auto portOfARun = [&sessions](MainDialog& window) {
        test::ClickControl(&window, 11970);
        return sessions.Started().empty() ? -1 : sessions.Started().back().portIndex;
    };
    for (const auto& click : clicks) {
        UiProgram program;
        MainDialog window(program, ports, sessions.Factory());
        window.show();
        auto* list = FindControlAs<QListWidget>(&window, 11973);
        ASSERT_EQ(list->currentRow(), 0);
        EXPECT_EQ(list->item(0)->toolTip(), QString::fromStdString(com2.Device()));
        EXPECT_EQ(portOfARun(window), 0);  // COM1, absent: highlighting COM2 is not choosing it
        click(list);
        EXPECT_EQ(portOfARun(window), 1);
    }
}

TEST(MainWindowView, EnterIsTheOkCommandAndSortieCancels) {
    TempFolder folder;
    for (const bool enter : {true, false}) {
        UiProgram program;
        MainDialog window(program, test::NoPorts());
        window.show();
        FindControl(&window, 11982)->setFocus();
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        enter ? (void)QApplication::sendEvent(&window, &key) : test::ClickControl(&window, 2);
        EXPECT_FALSE(window.isVisible());
        EXPECT_EQ(window.result(), enter ? QDialog::Accepted : QDialog::Rejected);
    }
}

// Types `text` into the password window and presses OK.
void EnterPassword(MainDialog& window, const QString& text) {
    test::WhenModal<PasswordDialog>([text](PasswordDialog* d) {
        auto* edit = FindControlAs<QLineEdit>(d, 1003);
        EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
        QTest::keyClicks(edit, text);
        EXPECT_EQ(edit->text(), text.toUpper());
        test::ClickControl(d, 1);
    });
    test::ClickControl(&window, 11977);
}

TEST(MainWindowView, ThePasswordWindowTypesCapitalsAndHandsBackTheLevel) {
    TempFolder folder;
    Messages messages;
    MainDialog window(messages.program, test::NoPorts());
    EnterPassword(window, QStringLiteral("KOLWE "));
    EXPECT_EQ(messages.texts, QStringList{"Password incorrect!"});
    EXPECT_TRUE(FindControl(&window, 11977)->isEnabled());

    EnterPassword(window, QStringLiteral("trevsan"));
    EXPECT_FALSE(FindControl(&window, 11977)->isEnabled());
    // Level 2 is the one that enables the software kinds' read-back.
    test::ClickControl(&window, 11992);
    EXPECT_TRUE(FindControl(&window, 11974)->isEnabled());
}

}  // namespace
}  // namespace tarven
