// The version query against scripted receivers: what goes on the wire, what
// the worker posts, and what lands in the version buffer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <utility>

#include "PortAccess.h"
#include "RunHarness.h"
#include "ScriptedPort.h"

namespace tarven::test {
namespace {

using namespace std::chrono_literals;

std::vector<std::uint8_t> VersionBlock(const std::string& hardware, const std::string& software) {
    std::vector<std::uint8_t> block(kVersionBlockSize, 0);
    std::memcpy(block.data() + kVersionHardwareOffset, hardware.data(), hardware.size());
    std::memcpy(block.data() + kVersionSoftwareOffset, software.data(), software.size());
    return block;
}

// The query keeps listening after the block is ready and re-requests on every
// silence, so tests compare what happened up to the first ready event.
template <typename T>
std::vector<T> First(std::vector<T> v, std::size_t n) {
    if (v.size() > n) v.resize(n);
    return v;
}

class VersionQuery : public ::testing::Test {
protected:
    void SetUp() override { LinkTime().SetSpeedUp(kFastClock); }
    void TearDown() override {
        if (run) run->Stop();
        LinkTime().SetSpeedUp(1);
    }
    // Starts a query against a receiver that reacts to each frame with `reaction`.
    void Start(ScriptedPort::Reaction reaction) {
        auto owned = std::make_unique<ScriptedPort>(std::move(reaction));
        port = owned.get();
        run = std::make_unique<LiveRun>(LinkMode::VersionQuery, std::move(owned));
        ASSERT_TRUE(run->Start());
    }
    std::vector<std::uint8_t> Block() {
        const auto ready = run->notifier.LastVersion();
        return ready ? std::vector<std::uint8_t>(ready->block.begin(), ready->block.end())
                     : std::vector<std::uint8_t>{};
    }

    ScriptedPort* port = nullptr;
    std::unique_ptr<LiveRun> run;
};

TEST_F(VersionQuery, CollectsABlockSplitOverFramesThenReportsItReady) {
    std::vector<std::uint8_t> stream(120);
    for (std::size_t i = 0; i < stream.size(); ++i) stream[i] = std::uint8_t(i + 1);
    Start([&](const ParsedFrame& f, ScriptedPort& p) {
        if (f.code != kCodeVersionRequest || f.kind != ParsedFrame::Kind::Command) return;
        p.QueueData({stream.begin(), stream.begin() + 40});
        p.QueueData({stream.begin() + 40, stream.end()});
        p.QueueCommand(kCodeVersionEnd);
    });
    ASSERT_TRUE(run->notifier.WaitForEvent(Ev::VersionReady));
    EXPECT_EQ(Block(), std::vector<std::uint8_t>(stream.begin(), stream.begin() + 100));
    EXPECT_EQ(First(port->Commands(), 4), (std::vector<std::uint16_t>{16, 0, 0, 0}));
    EXPECT_EQ(First(run->notifier.Messages(), 6), (std::vector<Posted>{{Ev::Total, 100},
                                                                       {Ev::Position, 50},
                                                                       {Ev::Position, 100},
                                                                       {Ev::Position, 100},
                                                                       {Ev::Position, 100},
                                                                       {Ev::VersionReady, 0}}));
}

TEST_F(VersionQuery, AnEndCodeWithoutDataGivesAnAllZeroBlock) {
    Start([](const ParsedFrame& f, ScriptedPort& p) {
        if (f.code == kCodeVersionRequest) p.QueueCommand(kCodeVersionEndAlt);
    });
    ASSERT_TRUE(run->notifier.WaitForEvent(Ev::VersionReady));
    EXPECT_EQ(Block(), std::vector<std::uint8_t>(kVersionBlockSize, 0));
}

TEST_F(VersionQuery, AStandByPausesSevenSecondsWithoutRepeatingTheRequest) {
    int requests = 0;
    Start([&](const ParsedFrame& f, ScriptedPort& p) {
        if (f.code != kCodeVersionRequest) return;
        if (++requests == 1) {
            p.QueueCommand(kCodeStandBy);
        } else {
            p.QueueData(VersionBlock("HW", "SW"));
            p.QueueCommand(kCodeVersionEnd);
        }
    });
    ASSERT_TRUE(run->notifier.WaitForEvent(Ev::VersionReady));
    EXPECT_EQ(First(port->Commands(), 4), (std::vector<std::uint16_t>{16, 16, 0, 0}));
    const auto times = port->FrameTimesUs();
    // 7 s of pause, then a 2 s silent receive before the request goes out again.
    EXPECT_GE(times[1] - times[0], 9'000'000);
}

TEST_F(VersionQuery, ASilentReceiverGetsOneRequestPerTimeOut) {
    int requests = 0;
    Start([&](const ParsedFrame& f, ScriptedPort& p) {
        if (f.code == kCodeVersionRequest && ++requests == 3) {
            p.QueueData(VersionBlock("HW", "SW"));
            p.QueueCommand(kCodeVersionEnd);
        }
    });
    ASSERT_TRUE(run->notifier.WaitForEvent(Ev::VersionReady));
    EXPECT_EQ(First(port->Commands(), 5), (std::vector<std::uint16_t>{16, 16, 16, 0, 0}));
    const auto positions = First(run->notifier.Progress(Ev::Position), 3);
    EXPECT_EQ(positions, (std::vector<std::intptr_t>{50, 100, 100})) << "the bar stays at 50 while nobody answers";
}

TEST_F(VersionQuery, ASecondEndCodeIsAcknowledgedAndReportedAgain) {
    int requests = 0;
    Start([&](const ParsedFrame& f, ScriptedPort& p) {
        if (f.code != kCodeVersionRequest || ++requests > 1) return;
        p.QueueData(VersionBlock("HW", "SW"));
        p.QueueCommand(kCodeVersionEnd);
        p.QueueCommand(kCodeVersionEnd);
    });
    ASSERT_TRUE(run->notifier.WaitForEvent(Ev::VersionReady));
    for (int i = 0; i < 1000 && port->Commands().size() < 4; ++i) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(First(port->Commands(), 4), (std::vector<std::uint16_t>{16, 0, 0, 0}));
    run->Stop();
    int ready = 0;
    for (const auto& m : run->notifier.Messages()) ready += m.what == Ev::VersionReady;
    EXPECT_EQ(ready, 2);
}

TEST_F(VersionQuery, ACorruptFrameIsDroppedAndRepeatRequested) {
    Start([](const ParsedFrame& f, ScriptedPort& p) {
        auto good = VersionBlock("HW-1", "SW-2");
        if (f.code == kCodeVersionRequest) {
            auto bad = DataFrame(good);
            bad[20] ^= 0x40;
            p.Queue(bad);
        } else if (f.code == kCodeRepeat) {
            p.QueueData(good);
            p.QueueCommand(kCodeVersionEnd);
        }
    });
    ASSERT_TRUE(run->notifier.WaitForEvent(Ev::VersionReady));
    EXPECT_EQ(First(port->Commands(), 4), (std::vector<std::uint16_t>{16, 1, 0, 0}));
    EXPECT_EQ(Block(), VersionBlock("HW-1", "SW-2"));
    EXPECT_GE(port->Purges(), 1);
}

TEST_F(VersionQuery, DataBeyondTheVersionBufferIsDroppedNeverOverrun) {
    Start([](const ParsedFrame& f, ScriptedPort& p) {
        if (f.code != kCodeVersionRequest) return;
        p.QueueData(std::vector<std::uint8_t>(4000, 0x11));
        p.QueueData(std::vector<std::uint8_t>(4000, 0x22));
        p.QueueData(std::vector<std::uint8_t>(7000, 0x33));  // larger than the receive buffer: ignored
        p.QueueCommand(kCodeVersionEnd);
    });
    ASSERT_TRUE(run->notifier.WaitForEvent(Ev::VersionReady));
    EXPECT_EQ(Block(), std::vector<std::uint8_t>(kVersionBlockSize, 0x11)) << "the block is the first frame's start";
    EXPECT_EQ(First(port->Commands(), 4), (std::vector<std::uint16_t>{16, 0, 0, 0}));
}

// A receiver that sends its record in one frame larger than the version buffer
// waits for the acknowledgement before it ends; unanswered, it repeats forever.
TEST_F(VersionQuery, APayloadLargerThanTheBufferIsCutAndAcknowledged) {
    auto acknowledged = std::make_shared<bool>(false);
    Start([acknowledged](const ParsedFrame& f, ScriptedPort& p) {
        if (f.code == kCodeVersionRequest) p.QueueData(std::vector<std::uint8_t>(kVersionBufferSize + 900, 0x33));
        if (f.code == kCodeAck && !std::exchange(*acknowledged, true)) p.QueueCommand(kCodeVersionEnd);
    });
    ASSERT_TRUE(run->notifier.WaitForEvent(Ev::VersionReady, std::chrono::seconds(5)));
    EXPECT_EQ(First(port->Commands(), 2), (std::vector<std::uint16_t>{16, 0}));
    EXPECT_EQ(Block(), std::vector<std::uint8_t>(kVersionBlockSize, 0x33));
}

// With the chosen port held elsewhere the search falls back to COM2.
TEST(VersionQueryPortSearch, FallsBackToComTwoAndKeepsItsIndex) {
    int m1, s1, m2, s2;
    ASSERT_EQ(::openpty(&m1, &s1, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(::openpty(&m2, &s2, nullptr, nullptr, nullptr), 0);
    for (int s : {s1, s2}) {
        termios tio{};
        ::tcgetattr(s, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(s, TCSANOW, &tio);
    }
    const PortMap ports({::ttyname(s1), ::ttyname(s2), "", "", "", ""});
    // Another program holds COM1.
    PortHandle holder = ports.Open(DefaultPortSettings());
    ASSERT_TRUE(holder);

    RecordingNotifier notifier;
    auto session = std::make_unique<LinkSession>(RunRequest{}, LinkTime(), ports);
    const LinkEngine& engine = session->Engine();
    EXPECT_FALSE(engine.HasPort());
    ASSERT_TRUE(session->Start(&notifier));
    ::fcntl(m2, F_SETFL, ::fcntl(m2, F_GETFL) | O_NONBLOCK);
    std::uint8_t got[12] = {};
    int n = 0;
    for (int i = 0; i < 2000 && n < 12; ++i) {
        const ssize_t r = ::read(m2, got + n, std::size_t(12 - n));
        if (r > 0) n += int(r);
        else std::this_thread::sleep_for(1ms);
    }
    session->Stop();
    ASSERT_EQ(n, 12);
    EXPECT_EQ(got[9], kCodeVersionRequest);
    EXPECT_EQ(engine.Settings().portIndex, 1);
    session.reset();
    holder.reset();
    for (int fd : {m1, s1, m2, s2}) ::close(fd);
}

}  // namespace
}  // namespace tarven::test
