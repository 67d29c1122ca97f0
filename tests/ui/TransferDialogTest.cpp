// The progress dialog: what the worker's messages show, and what a run leaves
// for the command that ran it.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>

#include <future>
#include <thread>

#include <QApplication>

#include "DialogTemplate.h"
#include "GuiLinkNotifier.h"
#include "LinkEngine.h"
#include "TransferDialog.h"
#include "UiTestSupport.h"

namespace tarven {
namespace {

using test::FakeWorker;
using test::Messages;
using test::WhenModal;

const QString kInitialStatus = QStringLiteral("Connection ...patience");

// A dialog with a live upload engine, driven by calling its handlers directly.
struct UploadDialog {
    TransferDialog dialog{DefaultPortSettings(), nullptr};
    UploadDialog(const std::string& fileName, bool sending) {
        SetLiveLinkEngine(new LinkEngine(DefaultPortSettings(), kModeUpload));
        LiveLinkEngine()->fileName = fileName;
        LiveLinkEngine()->sendingFlag = sending ? 1 : 0;
    }
    QString Status() const { return FindControlAs<QLabel>(&dialog, -1)->text(); }
    QString Counter() const { return FindControlAs<QLabel>(&dialog, 1005)->text(); }
    QProgressBar* Bar() const { return FindControlAs<QProgressBar>(&dialog, 1002); }
};

TEST(TransferDialogProgress, TextsFollowTheAnnouncedTotal) {
    struct Case {
        int total;
        bool sending;
        QString counterAtStart, status, counterAt4;
    };
    const Case cases[] = {
        {10, true, "", kInitialStatus, ""},  // small totals and the version query's 100 move only the bar
        {100, true, "", kInitialStatus, ""},
        {11, true, "   0/  11 KB", "Sending image.bin...\n", "   4/  11 KB"},
        {70000, false, "   0/70000 KB", "Receiving image.bin...\n", "   4/70000 KB"},
    };
    for (const Case& c : cases) {
        UploadDialog run("image.bin", c.sending);
        run.dialog.OnLinkProgress(kProgressTotal, c.total);
        EXPECT_EQ(run.Counter(), c.counterAtStart) << c.total;
        EXPECT_EQ(run.Status(), c.status) << c.total;
        EXPECT_EQ(run.Bar()->maximum(), c.total & 0xFFFF) << c.total;
        run.dialog.OnLinkProgress(kProgressPosition, 4);
        run.dialog.OnLinkProgress(3, 9);  // not a progress code
        EXPECT_EQ(run.Counter(), c.counterAt4) << c.total;
        EXPECT_EQ(run.Bar()->value(), 4) << c.total;
    }
}

TEST(TransferDialogProgress, TotalOutlivesTheRunThatAnnouncedIt) {
    SetProgressTotalKb(0);
    {
        UploadDialog before("a.bin", true);
        before.dialog.OnLinkProgress(kProgressPosition, 3);
        EXPECT_EQ(before.Counter(), QString());  // no total in the program's life yet
        before.dialog.OnLinkProgress(kProgressTotal, 50);
    }
    UploadDialog later("b.bin", true);
    later.dialog.OnLinkProgress(kProgressPosition, 20);
    EXPECT_EQ(later.Counter(), QStringLiteral("  20/  50 KB"));
}

TEST(TransferDialogProgress, LongFileNameIsShortenedToFitTheLabel) {
    const std::string longName(120, 'n');
    UploadDialog run(longName + ".bin", true);
    run.dialog.OnLinkProgress(kProgressTotal, 64);
    auto* label = FindControlAs<QLabel>(&run.dialog, -1);
    const QString shown = label->text();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Sending "))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QStringLiteral(".bin...\n"))) << shown.toStdString();
    EXPECT_LE(label->fontMetrics().horizontalAdvance(shown.trimmed()), label->width());
    EXPECT_EQ(run.dialog.StatusText(), QString::fromStdString("Sending " + longName + ".bin...\n"));
}

// True when every line of the label's text fits inside the label.
bool ShowsWhole(const QLabel* label) {
    const QFontMetrics metrics(label->font());
    const QStringList lines = label->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines)
        if (metrics.horizontalAdvance(line) > label->contentsRect().width()) return false;
    return lines.size() * metrics.height() <= label->contentsRect().height();
}

TEST(TransferDialogProgress, CounterShowsEveryValueWholeBesideTheStatusLine) {
    UploadDialog run("image.bin", false);
    const QWidget* status = FindControl(&run.dialog, -1);
    for (const auto& [position, total] : {std::pair{1024, 2048}, {2048, 2048}, {0, 99999}, {99999, 99999}}) {
        run.dialog.OnLinkProgress(kProgressTotal, total);
        run.dialog.OnLinkProgress(kProgressPosition, position);
        const auto* counter = FindControlAs<QLabel>(&run.dialog, 1005);
        EXPECT_LE(counter->sizeHint().width(), counter->width()) << counter->text().toStdString();
        EXPECT_TRUE(run.dialog.rect().contains(counter->geometry()));
        EXPECT_FALSE(counter->geometry().intersects(status->geometry()));
    }
}

TEST(TransferDialogProgress, TotalUnderOneKbLeavesTheBarStillAndEmpty) {
    UploadDialog run("tiny.bin", true);
    run.dialog.OnLinkProgress(kProgressTotal, 0);
    run.dialog.OnLinkProgress(kProgressPosition, 1);
    // A range of 0..0 is Qt's busy indicator, which moves on its own.
    EXPECT_LT(run.Bar()->minimum(), run.Bar()->maximum());
    EXPECT_EQ(run.Bar()->value(), run.Bar()->minimum());
}

TEST(TransferDialogProgress, NameThatFitsTheStatusBufferIsShownWhole) {
    // The longest names the status text holds: 37 characters receiving, 39 sending.
    const std::pair<bool, std::string> cases[] = {{false, "Def_Data_new_from_bench_4_copy_aa.bin"},
                                                  {true, "main_2026_12_08_bench_4_candidate_x.bin"}};
    for (const auto& [sending, name] : cases) {
        UploadDialog run(name, sending);
        run.dialog.OnLinkProgress(kProgressTotal, 64);
        const auto* label = FindControlAs<QLabel>(&run.dialog, -1);
        const QString shown = label->text();
        EXPECT_TRUE(QString(shown).remove(QLatin1Char('\n')).contains(QString::fromStdString(name)))
            << shown.toStdString();
        EXPECT_TRUE(ShowsWhole(label)) << shown.toStdString();
        EXPECT_TRUE(run.dialog.rect().contains(label->geometry()));
        EXPECT_FALSE(label->geometry().intersects(run.Bar()->geometry()));
        EXPECT_FALSE(label->geometry().intersects(FindControl(&run.dialog, 1005)->geometry()));
    }
}

// Runs a dialog modally with `script` standing in for the worker.
struct ModalRun {
    int versionReady = -1;
    int runResult = -1;
    bool cancelled = false;
    bool engineLeft = true;
    std::array<std::uint8_t, kVersionBlockSize> block{};
    ModalRun(FakeWorker::Script script, bool transfer, std::function<void(TransferDialog*)> whileOpen = {}) {
        FakeWorker worker(std::move(script));
        TransferDialog dialog(DefaultPortSettings(), nullptr);
        dialog.runResult = transfer ? 1 : 0;
        if (whileOpen) WhenModal<TransferDialog>(whileOpen);
        dialog.exec();
        versionReady = dialog.versionReady;
        runResult = dialog.runResult;
        cancelled = dialog.cancelled;
        block = dialog.versionBlock;
        engineLeft = LiveLinkEngine() != nullptr;
    }
};

TEST(TransferDialogRun, ResultsLeftForTheCaller) {
    const ModalRun finished(FakeWorker::Finishing(2), true);
    EXPECT_EQ(finished.runResult, 2);
    EXPECT_EQ(finished.versionReady, 0);
    EXPECT_FALSE(finished.cancelled);
    EXPECT_FALSE(finished.engineLeft);

    const ModalRun odd(
        [](LinkNotifier* w, LinkEngine*) {
            w->PostLinkMessage(WM_LINK_EVENT, 9, 1);
            w->PostLinkMessage(WM_LINK_EVENT, kEventFinished, 1);  // after the close: not handled
            return 1;
        },
        true);
    EXPECT_EQ(odd.runResult, 0);
    EXPECT_FALSE(odd.cancelled);

    const ModalRun cancelled(FakeWorker::Silent(), true, [](TransferDialog* d) { test::ClickControl(d, 2); });
    EXPECT_EQ(cancelled.runResult, 0);
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_FALSE(cancelled.engineLeft);
}

TEST(TransferDialogRun, VersionBlockIsCopiedAndTheDialogWaitsBeforeClosing) {
    std::vector<std::uint8_t> block(kVersionBlockSize);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i + 1);
    QElapsedTimer clock;
    clock.start();
    const ModalRun run(FakeWorker::VersionBlock(block), false);
    EXPECT_GE(clock.elapsed(), 200);
    EXPECT_EQ(run.versionReady, 1);
    EXPECT_EQ(run.runResult, 0);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), run.block.begin()));
    EXPECT_FALSE(run.engineLeft);
}

TEST(TransferDialogRun, WorkerThatCannotStartIsReportedAndLeavesNoEngine) {
    Messages messages;
    const ModalRun run([](LinkNotifier*, LinkEngine*) { return 0; }, false, [&messages](TransferDialog* d) {
        // The dialog waits for "Annuler" with its initial texts.
        test::SpinUntil([&messages] { return !messages.texts.isEmpty(); });
        EXPECT_EQ(LiveLinkEngine(), nullptr);
        EXPECT_EQ(FindControlAs<QLabel>(d, -1)->text(), kInitialStatus);
        test::ClickControl(d, 2);
    });
    EXPECT_EQ(messages.texts, QStringList{QStringLiteral("Fail to create Multi-Thread!")});
    EXPECT_EQ(run.versionReady, 0);
    EXPECT_EQ(run.runResult, 0);
    EXPECT_FALSE(run.engineLeft);
}

TEST(WorkerMessageBoxes, ShownOnTheWindowThreadAndNeverBlockAStop) {
    Messages messages;
    std::stop_source running;
    std::thread asking([&] { ShowMessageFromAnyThread(QStringLiteral("from the worker"), running.get_token()); });
    EXPECT_TRUE(test::SpinUntil([&] { return !messages.texts.isEmpty(); }));
    asking.join();
    EXPECT_EQ(messages.texts, QStringList{"from the worker"});

    // A worker told to stop returns at once, even while the window thread is
    // busy (here: joining it) and has not shown the box yet.
    std::stop_source stopping;
    auto done = std::async(std::launch::async, [&] {
        ShowMessageFromAnyThread(QStringLiteral("late"), stopping.get_token());
    });
    stopping.request_stop();
    EXPECT_EQ(done.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_EQ(messages.texts.size(), 1);
    // The run it belonged to is over: the box never comes up afterwards.
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(messages.texts.size(), 1);
}

}  // namespace
}  // namespace tarven
