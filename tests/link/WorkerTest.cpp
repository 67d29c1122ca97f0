// Starting and stopping the worker: a stop never waits for the receiver, a
// pause or a stalled write, and teardown leaves nothing behind.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

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

std::chrono::milliseconds TimeToTerminate() {
    const auto start = std::chrono::steady_clock::now();
    TerminateLinkWorker();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

// Generous against a loaded machine; the worker normally stops within a few ms.
constexpr auto kPromptStop = 200ms;

TEST(TerminateLinkWorker, StopsAWorkerInTheMiddleOfASevenSecondPause) {
    auto owned = std::make_unique<ScriptedPort>([](const ParsedFrame& f, ScriptedPort& port) {
        if (f.code == kCodeVersionRequest) port.QueueCommand(kCodeStandBy);
    });
    ScriptedPort& port = *owned;
    LiveRun run(LinkMode::VersionQuery, std::move(owned));
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(WaitForFrames(port, 1));
    std::this_thread::sleep_for(50ms);
    EXPECT_LT(TimeToTerminate(), kPromptStop);
}

TEST(TerminateLinkWorker, StopsAReadWithAFiveHundredSecondBudget) {
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
    EXPECT_LT(TimeToTerminate(), kPromptStop);
    EXPECT_EQ(port.Commands(), std::vector<std::uint16_t>{kCodeUploadPreamble});
    ::unlink(name);
}

TEST(TerminateLinkWorker, StopsAWriteTheDriverWillNotTake) {
    auto owned = std::make_unique<ScriptedPort>();
    owned->BlockWrites(true);
    LiveRun run(LinkMode::VersionQuery, std::move(owned));
    ASSERT_TRUE(run.Start());
    std::this_thread::sleep_for(50ms);  // inside the 5 s write wait by now
    EXPECT_TRUE(LinkWorkerRunning());
    EXPECT_LT(TimeToTerminate(), kPromptStop);
    EXPECT_FALSE(LinkWorkerRunning());
}

TEST(TerminateLinkWorker, DoesNothingWithoutAWorkerOrWhenCalledTwice) {
    TerminateLinkWorker();
    auto owned = std::make_unique<ScriptedPort>();
    LiveRun run(LinkMode::VersionQuery, std::move(owned));
    ASSERT_TRUE(run.Start());
    TerminateLinkWorker();
    TerminateLinkWorker();
    EXPECT_FALSE(LinkWorkerRunning());
}

TEST(Teardown, ClosesThePortAndClearsTheLiveEnginePointer) {
    bool closed = false;
    auto owned = std::make_unique<ScriptedPort>();
    owned->SetClosedFlag(&closed);
    LiveRun run(RunRequest{.mode = LinkMode::ReadBack, .fileName = "/tmp/tarven-teardown-test.bin", .kind = ImageKind::FactoryData},
                std::move(owned));
    ASSERT_TRUE(run.Start());
    std::this_thread::sleep_for(20ms);
    run.Stop();
    EXPECT_TRUE(closed);
    EXPECT_EQ(LiveLinkEngine(), nullptr);
    ::unlink("/tmp/tarven-teardown-test.bin");
}

TEST(StartLinkWorker, NeedsALiveEngineAndRunsWithoutAWindow) {
    ASSERT_EQ(LiveLinkEngine(), nullptr);
    EXPECT_EQ(StartLinkWorker(nullptr), 0);

    auto owned = std::make_unique<ScriptedPort>([](const ParsedFrame& f, ScriptedPort& port) {
        if (f.code == kCodeVersionRequest) port.QueueCommand(kCodeVersionEnd);
    });
    ScriptedPort& port = *owned;
    auto session = std::make_unique<LinkSession>(RunRequest{}, LinkTime(), std::move(owned));
    ASSERT_EQ(LiveLinkEngine(), &session->Engine());
    ASSERT_EQ(StartLinkWorker(nullptr), 1);
    ASSERT_TRUE(WaitForFrames(port, 2));  // the request and the acknowledgement of the end code
    TerminateLinkWorker();
    EXPECT_EQ(session->Engine().notifyWindow, nullptr);
    session.reset();
    EXPECT_EQ(LiveLinkEngine(), nullptr);
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
