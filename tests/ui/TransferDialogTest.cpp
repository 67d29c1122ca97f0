// The progress dialog's Qt side: how the model's texts fit the template's
// labels, and how the worker's events and the technician's keys reach the
// model. The decisions themselves are tested in tests/app.
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

using test::Messages;
using test::WhenModal;

// A dialog of an upload or read-back, its events delivered as the window's
// thread receives them.
struct UploadDialog {
    UiProgram program;
    TransferDialog dialog;
    UploadDialog(const std::string& fileName, bool sending)
        : dialog(program, RunRequest{.mode = sending ? LinkMode::Upload : LinkMode::ReadBack, .fileName = fileName},
                 test::ScriptedSessions().Factory(), nullptr) {}
    void Deliver(const LinkEvent& event) {
        LinkMessageEvent message(event);
        QCoreApplication::sendEvent(&dialog, &message);
    }
    void Total(int kb) { Deliver(Progress{Progress::Step::Total, kb}); }
    void At(int kb) { Deliver(Progress{Progress::Step::Position, kb}); }
    QProgressBar* Bar() const { return FindControlAs<QProgressBar>(&dialog, 1002); }
};

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
        run.Total(total);
        run.At(position);
        const auto* counter = FindControlAs<QLabel>(&run.dialog, 1005);
        EXPECT_LE(counter->sizeHint().width(), counter->width()) << counter->text().toStdString();
        EXPECT_TRUE(run.dialog.rect().contains(counter->geometry()));
        EXPECT_FALSE(counter->geometry().intersects(status->geometry()));
    }
}

TEST(TransferDialogProgress, TotalUnderOneKbLeavesTheBarStillAndEmpty) {
    UploadDialog run("tiny.bin", true);
    run.Total(0);
    run.At(1);
    // A range of 0..0 is Qt's busy indicator, which moves on its own.
    EXPECT_LT(run.Bar()->minimum(), run.Bar()->maximum());
    EXPECT_EQ(run.Bar()->value(), run.Bar()->minimum());
}

TEST(TransferDialogProgress, StatusLineShowsANameTheBufferHoldsWholeAndShortensALongerOne) {
    // The longest names the status text holds (37 characters receiving, 39
    // sending), and one that just fills the free width, where a real display's
    // fractional glyph advances decide whether it is cut.
    const std::pair<bool, std::string> cases[] = {{false, "Def_Data_new_from_bench_4_copy_aa.bin"},
                                                  {true, "main_2026_12_08_bench_4_candidate_x.bin"},
                                                  {false, "Def_Data_new.bin"}};
    for (const auto& [sending, name] : cases) {
        UploadDialog run(name, sending);
        run.Total(64);
        const auto* label = FindControlAs<QLabel>(&run.dialog, -1);
        const QString shown = label->text();
        EXPECT_TRUE(QString(shown).remove(QLatin1Char('\n')).contains(QString::fromStdString(name)))
            << shown.toStdString();
        EXPECT_TRUE(ShowsWhole(label)) << shown.toStdString();
        EXPECT_TRUE(run.dialog.rect().contains(label->geometry()));
        EXPECT_FALSE(label->geometry().intersects(run.Bar()->geometry()));
        EXPECT_FALSE(label->geometry().intersects(FindControl(&run.dialog, 1005)->geometry()));
    }
    const std::string longName(120, 'n');
    UploadDialog run(longName + ".bin", true);
    run.Total(64);
    auto* label = FindControlAs<QLabel>(&run.dialog, -1);
    const QString shown = label->text();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Sending ")) && shown.endsWith(QStringLiteral(".bin...\n")))
        << shown.toStdString();
    EXPECT_LE(label->fontMetrics().horizontalAdvance(shown.trimmed()), label->width());
    EXPECT_EQ(run.dialog.StatusText(), QString::fromStdString("Sending " + longName + ".bin...\n"));
}

// Runs a dialog modally with `script` standing in for the worker.
struct ModalRun {
    TransferOutcome outcome;
    bool engineLeft = true;
    ModalRun(test::ScriptedSessions::Script script, LinkMode mode,
             std::function<void(TransferDialog*)> whileOpen = {}) {
        const test::ScriptedSessions sessions(std::move(script));
        UiProgram program;
        TransferDialog dialog(program, RunRequest{.mode = mode}, sessions.Factory(), nullptr);
        if (whileOpen) WhenModal<TransferDialog>(whileOpen);
        dialog.exec();
        outcome = dialog.Outcome();
        engineLeft = sessions.Alive() > 0;
    }
};

TEST(TransferDialogRun, WorkerEventsAndTheCancelButtonReachTheModel) {
    std::vector<std::uint8_t> block(kVersionBlockSize);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i + 1);
    QElapsedTimer clock;
    clock.start();
    const ModalRun version(test::VersionBlockRun(block), LinkMode::VersionQuery);
    EXPECT_GE(clock.elapsed(), 200) << "the window stays up a moment after a version block";
    EXPECT_TRUE(std::equal(block.begin(), block.end(), version.outcome.versionBlock.begin()));
    EXPECT_FALSE(version.engineLeft);

    const ModalRun finished(test::FinishingRun(2), LinkMode::ReadBack);
    EXPECT_EQ(finished.outcome.runResult, 2);
    const ModalRun cancelled(test::SilentRun(), LinkMode::Upload, [](TransferDialog* d) { test::ClickControl(d, 2); });
    EXPECT_TRUE(cancelled.outcome.cancelled);
    EXPECT_FALSE(cancelled.engineLeft);
}

TEST(WorkerMessageBoxes, ShownOnTheWindowThreadAndNeverBlockAStop) {
    Messages messages;
    std::stop_source running;
    std::thread asking([&] {
        ShowMessageFromAnyThread(messages.program.Messages(), QStringLiteral("from the worker"), running.get_token());
    });
    EXPECT_TRUE(test::SpinUntil([&] { return !messages.texts.isEmpty(); }));
    asking.join();
    EXPECT_EQ(messages.texts, QStringList{"from the worker"});

    // A worker told to stop returns at once, even while the window thread is
    // busy (here: joining it) and has not shown the box yet.
    std::stop_source stopping;
    auto done = std::async(std::launch::async, [&] {
        ShowMessageFromAnyThread(messages.program.Messages(), QStringLiteral("late"), stopping.get_token());
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
