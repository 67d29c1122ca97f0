// The window's commands end to end through the progress dialog, with a
// stand-in for the link worker.
#include <gtest/gtest.h>

#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <sys/stat.h>

#include "DialogTemplate.h"
#include "LinkEngine.h"
#include "MainDialog.h"
#include "OverwriteDialog.h"
#include "PasswordDialog.h"
#include "TransferDialog.h"
#include "UiTestSupport.h"

namespace tarven {
namespace {

using test::FakeWorker;
using test::Messages;
using test::TempFolder;

const QString kSuccess =
    QStringLiteral("\nTransfer Successfully!\nPlease keep the power while GOOD is not displayed on IRD.\n");
const QString kPleaseWait = QStringLiteral(
    "\nPlease wait......\nPlease click \"OK\" to continue once the page of \"@Nimbo Chip Update\" appears on the TV.\n");
const QString kReboot = QStringLiteral("\nPlease do not power off the receiver before it reboots itself.\n");

// A working folder, COM1 on a pseudo-terminal, captured messages.
struct Bench {
    TempFolder folder;
    test::Pty com1;
    test::PortMap ports{{{0, com1.Device()}}};
    Messages messages;
};

TEST(UpdateCommand, SoftwareKindRemindsOnceThenUploads) {
    Bench bench;
    bench.folder.File(QStringLiteral("soft.bin"), 1048576);
    SetVersionReminderShown(false);
    FakeWorker worker(FakeWorker::Finishing(1));
    MainDialog window;
    test::ClickControl(&window, 11992);
    test::ClickControl(&window, 11971);
    EXPECT_EQ(bench.messages.texts, QStringList{"Please Read Version first!"});
    EXPECT_TRUE(worker.runs.empty());

    test::ClickControl(&window, 11971);
    ASSERT_EQ(worker.runs.size(), 1u);
    EXPECT_EQ(worker.runs[0].mode, kModeUpload);
    EXPECT_EQ(worker.runs[0].fileName, "soft.bin");
    EXPECT_EQ(worker.runs[0].imageKind, KindSoftware);
    EXPECT_EQ(worker.runs[0].sendingFlag, 1);
    EXPECT_EQ(bench.messages.texts.last(), kSuccess);
    EXPECT_EQ(LiveLinkEngine(), nullptr);

    // The reminder is given once per program, not once per window.
    MainDialog another;
    test::ClickControl(&another, 11992);
    test::ClickControl(&another, 11971);
    EXPECT_EQ(worker.runs.size(), 2u);
}

TEST(UpdateCommand, ChecksPortThenSelectionAndOtherKindsNeedNoReminder) {
    TempFolder folder;
    Messages messages;
    SetVersionReminderShown(false);
    FakeWorker worker(FakeWorker::Finishing(1));
    MainDialog window;  // no port can be opened
    test::ClickControl(&window, 11971);
    EXPECT_EQ(messages.texts, QStringList{"Fail to Open COM port!"});

    test::Pty com1;
    test::PortMap ports({{0, com1.Device()}});
    test::ClickControl(&window, 11971);  // kind 11993, nothing listed
    EXPECT_EQ(messages.texts.last(), QStringLiteral("Please select a file first!"));

    folder.File(QStringLiteral("full.bin"), 2097152);
    window.RefreshImageList();
    test::ClickControl(&window, 11971);
    ASSERT_EQ(worker.runs.size(), 1u);
    EXPECT_EQ(worker.runs[0].imageKind, KindFullImage);
    EXPECT_EQ(messages.texts.last(), kSuccess);
}

// A success the engine could not confirm gets a second box after the usual
// one; the confirmed success above gets none.
TEST(UpdateCommand, AnUnconfirmedSuccessAsksTheTechnicianToCheckTheReceiver) {
    Bench bench;
    bench.folder.File(QStringLiteral("fdd.bin"), 65536);
    FakeWorker worker([](LinkNotifier* window, LinkEngine* engine) {
        engine->uploadDoubt.store(UploadDoubt::AckAfterRepeat);
        window->PostLinkMessage(WM_LINK_EVENT, kEventFinished, kResultSuccess);
        return 1;
    });
    MainDialog window;
    test::ClickControl(&window, 11990);
    test::ClickControl(&window, 11971);
    ASSERT_EQ(worker.runs.size(), 1u);
    ASSERT_EQ(bench.messages.texts.size(), 2);
    EXPECT_EQ(bench.messages.texts[0], kSuccess);
    EXPECT_TRUE(bench.messages.texts[1].contains(QStringLiteral("The line was disturbed")));
    EXPECT_TRUE(bench.messages.texts[1].contains(QStringLiteral("reading the versions")));
}

TEST(UpdateCommand, TwoFileSequenceSendsBothFilesInListOrder) {
    Bench bench;
    bench.folder.File(QStringLiteral("x1.bin"), 500);
    bench.folder.File(QStringLiteral("x2.bin"), 600);
    FakeWorker worker(FakeWorker::Finishing(1));
    MainDialog window;
    test::ClickControl(&window, 11996);
    FindControlAs<QListWidget>(&window, 11982)->setCurrentRow(1);  // the selection does not count
    test::ClickControl(&window, 11971);
    ASSERT_TRUE(test::SpinUntil([&] { return bench.messages.texts.size() == 2; }));
    ASSERT_EQ(worker.runs.size(), 2u);
    EXPECT_EQ(worker.runs[0].fileName, "x1.bin");
    EXPECT_EQ(worker.runs[1].fileName, "x2.bin");
    EXPECT_EQ(worker.runs[1].imageKind, KindFullX);
    EXPECT_EQ(bench.messages.texts, (QStringList{kPleaseWait, kReboot}));
    EXPECT_EQ(window.FullXStep(), 0);
}

TEST(UpdateCommand, TwoFileSequenceRestartsAfterACancelAndResumesAfterAPortFailure) {
    Bench bench;
    bench.folder.File(QStringLiteral("x1.bin"), 500);
    bench.folder.File(QStringLiteral("x2.bin"), 600);
    MainDialog window;
    test::ClickControl(&window, 11996);
    {
        FakeWorker silent(FakeWorker::Silent());
        test::WhenModal<TransferDialog>([](TransferDialog* d) { test::ClickControl(d, 2); });
        test::ClickControl(&window, 11971);
        EXPECT_EQ(window.FullXStep(), 0);
    }
    FakeWorker worker(FakeWorker::Finishing(1));
    // The port goes away while the technician reads "Please wait".
    bench.messages.onMessage = [](const QString& text) {
        if (text.startsWith(QStringLiteral("\nPlease wait"))) test::PortMap::Reset();
    };
    test::ClickControl(&window, 11971);
    ASSERT_TRUE(test::SpinUntil([&] { return bench.messages.texts.size() == 2; }));
    EXPECT_EQ(bench.messages.texts.last(), QStringLiteral("Fail to Open COM port!"));
    EXPECT_EQ(window.FullXStep(), 1);

    test::PortMap back({{0, bench.com1.Device()}});
    test::ClickControl(&window, 11971);
    ASSERT_EQ(worker.runs.size(), 2u);
    EXPECT_EQ(worker.runs[0].fileName, "x1.bin");
    EXPECT_EQ(worker.runs[1].fileName, "x2.bin");
    EXPECT_EQ(bench.messages.texts.last(), kReboot);
    EXPECT_EQ(window.FullXStep(), 0);
}

TEST(VersionRead, ShowsTheReceiversTextsAndLiftsTheReminder) {
    Bench bench;
    SetVersionReminderShown(false);
    MainDialog window;
    {
        FakeWorker silent(FakeWorker::Silent());
        test::WhenModal<TransferDialog>([](TransferDialog* d) { test::ClickControl(d, 2); });
        test::ClickControl(&window, 11970);
        EXPECT_EQ(silent.runs.at(0).mode, kModeVersionQuery);
    }
    EXPECT_EQ(FindControlAs<QLineEdit>(&window, 1000)->text(), QStringLiteral("Unavailable"));
    EXPECT_EQ(FindControlAs<QLineEdit>(&window, 1001)->text(), QStringLiteral("Unavailable"));

    FakeWorker worker(FakeWorker::VersionBlock(std::vector<std::uint8_t>(kVersionBlockSize, 0)));
    test::ClickControl(&window, 11970);
    EXPECT_EQ(FindControlAs<QLineEdit>(&window, 1000)->text(), QString());
    EXPECT_EQ(FindControlAs<QLineEdit>(&window, 1001)->text(), QString());
    // An empty version is a version: a "Software" update goes straight to its checks.
    test::ClickControl(&window, 11992);
    test::PortMap noPorts({});
    test::ClickControl(&window, 11971);
    EXPECT_EQ(bench.messages.texts, QStringList{"Fail to Open COM port!"});
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

TEST(ServiceAccess, AcceptedPasswordSetsTheLevelOnce) {
    TempFolder folder;
    Messages messages;
    MainDialog window;
    test::ClickControl(&window, 11992);
    EnterPassword(window, QStringLiteral("KOLWE "));
    EXPECT_EQ(messages.texts, QStringList{"Password incorrect!"});
    EXPECT_TRUE(FindControl(&window, 11977)->isEnabled());

    EnterPassword(window, QStringLiteral("trevsan"));
    EXPECT_EQ(window.Access(), AccessLevel::Full);
    EXPECT_FALSE(FindControl(&window, 11977)->isEnabled());
    EXPECT_TRUE(FindControl(&window, 11974)->isEnabled());  // read-back for every kind now
}

TEST(ServiceAccess, LevelZeroPasswordStillUsesUpTheButton) {
    TempFolder folder;
    MainDialog window;
    EnterPassword(window, QStringLiteral("rapxmu"));
    EXPECT_EQ(window.Access(), AccessLevel::Standard);
    EXPECT_FALSE(FindControl(&window, 11977)->isEnabled());
}

TEST(ReadBack, ExistingFileCanBeRenamedOrTheReadBackDropped) {
    Bench bench;
    bench.folder.File(QStringLiteral("UserData.bin"), 180224, 'u');
    FakeWorker worker(FakeWorker::Finishing(2));
    MainDialog window;
    test::ClickControl(&window, 11991);

    test::WhenModal<OverwriteDialog>([](OverwriteDialog* d) { d->reject(); });
    test::ClickControl(&window, 11974);
    EXPECT_TRUE(worker.runs.empty());
    EXPECT_TRUE(bench.messages.texts.isEmpty());

    test::WhenModal<OverwriteDialog>([](OverwriteDialog* d) {
        test::ClickControl(d, 11967);
        FindControlAs<QLineEdit>(d, 11968)->setText(QStringLiteral("copy.bin"));
        test::ClickControl(d, 1);
    });
    test::ClickControl(&window, 11974);
    ASSERT_EQ(worker.runs.size(), 1u);
    EXPECT_EQ(worker.runs[0].fileName, "copy.bin");
    EXPECT_EQ(window.ReadBackFileName(), QStringLiteral("copy.bin"));
    EXPECT_EQ(bench.messages.texts, QStringList{"\nTransfer Error!, Please try again!\n"});
}

TEST(ReadBack, NothingIsReceivedIntoAPipe) {
    Bench bench;
    ASSERT_EQ(::mkfifo("UserData.bin", 0600), 0);
    FakeWorker worker(FakeWorker::Finishing(1));
    MainDialog window;
    test::ClickControl(&window, 11991);
    test::WhenModal<OverwriteDialog>([](OverwriteDialog* d) { test::ClickControl(d, 1); });
    test::ClickControl(&window, 11974);
    EXPECT_TRUE(worker.runs.empty());
    EXPECT_EQ(bench.messages.texts, QStringList{"UserData.bin\nNot a regular file !"});
}

TEST(ReadBack, ChipKindsAreRefusedWithoutARun) {
    Bench bench;
    FakeWorker worker(FakeWorker::Finishing(1));
    MainDialog window;
    test::ClickControl(&window, 11995);
    window.OnReadBack();  // the hidden button is disabled here; full access would enable it
    EXPECT_TRUE(worker.runs.empty());
    EXPECT_EQ(bench.messages.texts, QStringList{"Read-back is not available for this image kind."});
}

}  // namespace
}  // namespace tarven
