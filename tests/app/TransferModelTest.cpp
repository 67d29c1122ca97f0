// The progress dialog's model with a recording view: what the worker's events
// show, and what a run leaves for the command that ran it.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "ScriptedSession.h"
#include "TransferModel.h"

namespace tarven::test {
namespace {

struct FakeTransferView : TransferView {
    std::optional<std::string> status, counter;
    bool keepWhole = false;
    int rangeMaximum = TransferModel::kInitialBarMaximum, position = 0;
    std::vector<std::string> messages;
    std::optional<int> closeDelayMs, watchMs;
    std::optional<bool> ended;  // accepted or cancelled

    void ShowStatus(const std::string& text, bool whole) override { status = text, keepWhole = whole; }
    void ShowCounter(const std::string& text) override { counter = text; }
    void SetBarRange(int maximum) override { rangeMaximum = maximum; }
    void SetBarPosition(int p) override { position = p; }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void StartCloseDelay(int ms) override { closeDelayMs = ms; }
    void StartWatch(int ms) override { watchMs = ms; }
    void EndDialog(bool accepted) override { ended = accepted; }
};

struct NoRelay : LinkNotifier {
    void OnLinkEvent(const LinkEvent&) override {}
    void ShowMessageBox(const std::string&, std::stop_token) override {}
};

// A dialog's model whose session is played by a script: no port is opened.
class TransferModelTest : public ::testing::Test {
protected:
    TransferModel& Open(
        const RunRequest& request,
        ScriptedSessions::Script script = [](LinkNotifier*, const RunRequest&) { return true; }) {
        sessions = ScriptedSessions(std::move(script));
        model.emplace(view, program, request, sessions.Factory());
        model->Start(relay);
        return *model;
    }
    static Progress Total(std::int64_t kb) { return {Progress::Step::Total, kb}; }
    static Progress At(std::int64_t kb) { return {Progress::Step::Position, kb}; }

    FakeTransferView view;
    NoRelay relay;
    ScriptedSessions sessions;
    ProgramState program;
    std::optional<TransferModel> model;
};

TEST_F(TransferModelTest, TextsFollowTheAnnouncedTotal) {
    struct Case {
        int total;
        LinkMode mode;
        std::optional<std::string> counterAtStart, status, counterAt4;
    };
    const Case cases[] = {
        {10, LinkMode::Upload, {}, {}, {}},  // small totals and the version query's 100 move only the bar
        {100, LinkMode::Upload, {}, {}, {}},
        {11, LinkMode::Upload, "   0/  11 KB", "Sending image.bin...\n", "   4/  11 KB"},
        {70000, LinkMode::ReadBack, "   0/70000 KB", "Receiving image.bin...\n", "   4/70000 KB"},
    };
    for (const Case& c : cases) {
        view = {};
        TransferModel& run = Open(RunRequest{.mode = c.mode, .fileName = "image.bin"});
        run.OnLinkEvent(Total(c.total));
        EXPECT_EQ(view.counter, c.counterAtStart) << c.total;
        EXPECT_EQ(view.status, c.status) << c.total;
        EXPECT_EQ(view.rangeMaximum, c.total & 0xFFFF) << c.total;
        run.OnLinkEvent(At(4));
        EXPECT_EQ(view.counter, c.counterAt4) << c.total;
        EXPECT_EQ(view.position, 4) << c.total;
    }
}

TEST_F(TransferModelTest, TotalOutlivesTheRunThatAnnouncedIt) {
    Open(RunRequest{.mode = LinkMode::Upload}).OnLinkEvent(At(3));
    EXPECT_EQ(view.counter, std::nullopt) << "no total in the program's life yet";
    model->OnLinkEvent(Total(50));
    model->OnOk();
    view = {};
    Open(RunRequest{.mode = LinkMode::Upload}).OnLinkEvent(At(20));
    EXPECT_EQ(view.counter, "  20/  50 KB");
}

TEST_F(TransferModelTest, ResultsLeftForTheCaller) {
    TransferModel& finished =
        Open(RunRequest{.mode = LinkMode::Upload, .fileName = "main.bin", .kind = ImageKind::Software});
    ASSERT_EQ(sessions.Started().size(), 1u);
    EXPECT_EQ(sessions.Started()[0].fileName, "main.bin") << "the run is built from the request";
    EXPECT_EQ(sessions.Started()[0].kind, ImageKind::Software);
    const RunFailure unreadable{RunFault::ImageUnreadable, 2};
    finished.OnLinkEvent(Finished{kResultSuccess, UploadDoubt::EndUnanswered, unreadable});
    finished.OnLinkEvent(Finished{kResultFailure});  // after the close: not acted on
    EXPECT_EQ(view.ended, true);
    EXPECT_EQ(finished.Outcome().runResult, kResultSuccess);
    EXPECT_EQ(finished.Outcome().uploadDoubt, UploadDoubt::EndUnanswered);
    EXPECT_EQ(finished.Outcome().failure, unreadable);
    EXPECT_FALSE(finished.Outcome().versionReady);
    EXPECT_FALSE(finished.Outcome().cancelled);
    EXPECT_EQ(sessions.Alive(), 0);

    view = {};
    TransferModel& cancelled = Open(RunRequest{.mode = LinkMode::ReadBack});
    cancelled.OnCancel();
    cancelled.OnLinkEvent(Finished{kResultSuccess});
    EXPECT_EQ(view.ended, false);
    EXPECT_EQ(cancelled.Outcome().runResult, kResultFailure);
    EXPECT_TRUE(cancelled.Outcome().cancelled);
    EXPECT_EQ(sessions.Alive(), 0);
}

TEST_F(TransferModelTest, VersionBlockClosesOnlyAfterTheDelay) {
    VersionReady ready;
    for (std::size_t i = 0; i < ready.block.size(); ++i) ready.block[i] = std::uint8_t(i + 1);
    TransferModel& run = Open(RunRequest{});
    run.OnLinkEvent(ready);
    EXPECT_EQ(view.closeDelayMs, 200);
    run.OnCancel();  // ignored while the full bar is on show
    run.OnLinkEvent(Finished{kResultLengthMismatch});
    EXPECT_EQ(view.ended, std::nullopt);
    EXPECT_EQ(sessions.Alive(), 1);
    run.OnCloseDelayOver();
    EXPECT_EQ(view.ended, true);
    EXPECT_TRUE(run.Outcome().versionReady);
    EXPECT_EQ(run.Outcome().versionBlock, ready.block);
    EXPECT_EQ(run.Outcome().runResult, kResultFailure);
    EXPECT_EQ(sessions.Alive(), 0);
}

TEST_F(TransferModelTest, WorkerThatCannotStartIsReportedAndLeavesNoSession) {
    TransferModel& run = Open(RunRequest{}, [](LinkNotifier*, const RunRequest&) { return false; });
    EXPECT_EQ(view.messages, std::vector<std::string>{"Fail to create Multi-Thread!"});
    EXPECT_EQ(sessions.Alive(), 0);
    EXPECT_EQ(view.ended, std::nullopt) << "the dialog waits for \"Annuler\"";
    run.OnCancel();
    EXPECT_EQ(view.ended, false);
    EXPECT_EQ(run.Outcome().runResult, kResultFailure);
    EXPECT_FALSE(run.Outcome().versionReady);
}

// A pulled adapter ends the run within a watch, naming the port, and is
// never taken for success or for the technician's cancel.
TEST_F(TransferModelTest, APortWhoseDeviceHasGoneEndsTheRunAndSaysSo) {
    TransferModel& run = Open(RunRequest{.mode = LinkMode::VersionQuery, .portIndex = 2});
    EXPECT_EQ(view.watchMs, TransferModel::kWatchIntervalMs);
    run.OnWatch();
    EXPECT_EQ(view.ended, std::nullopt) << "the device is still there";
    sessions.SetDeviceGone(true);
    run.OnWatch();
    EXPECT_EQ(view.messages, std::vector<std::string>{"COM3: the device was removed"});
    EXPECT_EQ(view.ended, false);
    EXPECT_EQ(sessions.Alive(), 0) << "the run is torn down";
    run.OnLinkEvent(Finished{kResultSuccess});
    EXPECT_EQ(run.Outcome().runResult, kResultFailure);
    EXPECT_FALSE(run.Outcome().cancelled);
    EXPECT_FALSE(run.Outcome().versionReady);
}

}  // namespace
}  // namespace tarven::test
