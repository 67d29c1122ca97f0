// Starting and stopping the worker: a stop never waits for the receiver, a
// pause or a stalled write, and teardown leaves nothing behind.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "DesignFacade.h"
#include "RunHarness.h"
#include "ScriptedPort.h"

namespace tarven::test {
namespace {

using namespace std::chrono_literals;

// Waits (bounded) until the scripted receiver has seen `count` frames.
bool WaitForFrames(const ScriptedPort& port, std::size_t count) {
    for (int i = 0; i < 2000 && port.Frames().size() < count; ++i) std::this_thread::sleep_for(1ms);
    return port.Frames().size() >= count;
}

std::chrono::milliseconds TimeToStop(LinkSession& session) {
    const auto start = std::chrono::steady_clock::now();
    session.Stop();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

// Generous against a loaded machine; the worker normally stops within a few ms.
constexpr auto kPromptStop = 200ms;

TEST(StoppingTheWorker, StopsAWorkerInTheMiddleOfASevenSecondPause) {
    auto owned = std::make_unique<ScriptedPort>([](const ParsedFrame& f, ScriptedPort& port) {
        if (f.code == kCodeVersionRequest) port.QueueCommand(kCodeStandBy);
    });
    ScriptedPort& port = *owned;
    LiveRun run(LinkMode::VersionQuery, std::move(owned));
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(WaitForFrames(port, 1));
    std::this_thread::sleep_for(50ms);
    EXPECT_LT(TimeToStop(run.Session()), kPromptStop);
}

TEST(StoppingTheWorker, StopsAReadWithAFiveHundredSecondBudget) {
    auto owned = std::make_unique<ScriptedPort>();  // never answers the preamble
    ScriptedPort& port = *owned;
    char name[] = "/tmp/tarven-worker-XXXXXX";
    const int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "image", 5), 5);
    ::close(fd);
    LiveRun run(RunRequest{.mode = LinkMode::Upload, .fileName = name, .kind = ImageKind::Software}, std::move(owned));
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(WaitForFrames(port, 1));
    std::this_thread::sleep_for(50ms);
    EXPECT_LT(TimeToStop(run.Session()), kPromptStop);
    EXPECT_EQ(port.Commands(), std::vector<std::uint16_t>{kCodeUploadPreamble});
    ::unlink(name);
}

TEST(StoppingTheWorker, StopsAWriteTheDriverWillNotTake) {
    auto owned = std::make_unique<ScriptedPort>();
    owned->BlockWrites(true);
    LiveRun run(LinkMode::VersionQuery, std::move(owned));
    ASSERT_TRUE(run.Start());
    std::this_thread::sleep_for(50ms);  // inside the 5 s write wait by now
    EXPECT_TRUE(run.Session().Running());
    EXPECT_LT(TimeToStop(run.Session()), kPromptStop);
    EXPECT_FALSE(run.Session().Running());
}

TEST(StoppingTheWorker, DoesNothingWithoutAWorkerOrWhenCalledTwice) {
    auto owned = std::make_unique<ScriptedPort>();
    LiveRun run(LinkMode::VersionQuery, std::move(owned));
    run.Session().Stop();
    ASSERT_TRUE(run.Start());
    run.Session().Stop();
    run.Session().Stop();
    EXPECT_FALSE(run.Session().Running());
}

TEST(Teardown, ClosesThePort) {
    bool closed = false;
    auto owned = std::make_unique<ScriptedPort>();
    owned->SetClosedFlag(&closed);
    LiveRun run(
        RunRequest{
            .mode = LinkMode::ReadBack, .fileName = "/tmp/tarven-teardown-test.bin", .kind = ImageKind::FactoryData},
        std::move(owned));
    ASSERT_TRUE(run.Start());
    std::this_thread::sleep_for(20ms);
    run.Stop();
    EXPECT_TRUE(closed);
    ::unlink("/tmp/tarven-teardown-test.bin");
}

// The design's names reach a session only while it is made live.
TEST(DesignFacade, StartsAndStopsOnlyTheLiveRunAndRunsWithoutAWindow) {
    ASSERT_EQ(LiveLinkEngine(), nullptr);
    EXPECT_EQ(StartLinkWorker(nullptr), 0);

    auto owned = std::make_unique<ScriptedPort>([](const ParsedFrame& f, ScriptedPort& port) {
        if (f.code == kCodeVersionRequest) port.QueueCommand(kCodeVersionEnd);
    });
    ScriptedPort& port = *owned;
    auto session = std::make_unique<LinkSession>(RunRequest{}, LinkTime(), std::move(owned));
    {
        const LiveLinkRun live(*session);
        ASSERT_EQ(LiveLinkEngine(), &session->Engine());
        ASSERT_EQ(StartLinkWorker(nullptr), 1);
        ASSERT_TRUE(WaitForFrames(port, 2));  // the request and the acknowledgement of the end code
        TerminateLinkWorker();
        EXPECT_FALSE(LinkWorkerRunning());
    }
    EXPECT_EQ(LiveLinkEngine(), nullptr);
}

// The numbers the window adapters post, the design's own.
TEST(DesignFacade, EachEventBecomesTheDesignsMessage) {
    const std::pair<LinkEvent, DesignMessage> cases[] = {
        {Progress{Progress::Step::Total, 1024}, {1231, 6, 1024}},
        {Progress{Progress::Step::Position, 12}, {1231, 5, 12}},
        {VersionReady{}, {1230, 1, 0}},
        {Finished{kResultLengthMismatch, UploadDoubt::StrayReply}, {1230, 7, 2}},
    };
    for (const auto& [event, message] : cases) EXPECT_EQ(DesignMessageOf(event), message) << message.wParam;
}

TEST(StartLinkWorker, RunsTheReadBackForAnyModeButOneAndTwo) {
    auto owned = std::make_unique<ScriptedPort>();
    ScriptedPort& port = *owned;
    LiveRun run(RunRequest{.mode = LinkMode(9), .fileName = "/tmp/tarven-mode-test.bin", .kind = ImageKind::UserData},
                std::move(owned));
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(WaitForFrames(port, 1));
    EXPECT_EQ(port.Commands().front(), 51) << "the read-back request of the user data";
    run.Stop();
    ::unlink("/tmp/tarven-mode-test.bin");
}

}  // namespace
}  // namespace tarven::test
