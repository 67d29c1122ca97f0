// Read-backs from scripted receivers: the file written, the length check, the
// answers to repeats, short frames and silence.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "RunHarness.h"
#include "ScriptedPort.h"

namespace tarven::test {
namespace {

using namespace std::chrono_literals;

std::vector<std::uint8_t> Image(std::size_t size) {
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i) image[i] = std::uint8_t((i * 13 + i / 997) & 0xFF);
    return image;
}

// Serves an image as the receiver does: ready on the request, a first payload
// with the length header, then a slice after each acknowledgement, then the
// end code. A repeat or speed change sends the current frame again.
struct Server {
    std::vector<std::uint8_t> image;
    std::uint32_t announced = 0;
    std::size_t firstSlice = 4096;  // image bytes in the first payload
    std::uint16_t endCode = kCodeEndOfImage;
    // Called before each delivery; true when it answered instead (the frame stays pending).
    std::function<bool(int call, ScriptedPort&)> beforeFrame{};
    bool waitForStandBy = false;  // the software kinds: silent until asked with 4

    std::size_t sent = 0;
    bool headerBuilt = false, pending = false, endDelivered = false, endBuilt = false;
    int calls = 0;
    bool ready = false;
    std::vector<std::uint8_t> current{};

    void BuildNext() {
        if (!headerBuilt) {
            headerBuilt = true;
            std::vector<std::uint8_t> payload(4);
            WriteBigEndian32(payload.data(), announced);
            const std::size_t take = std::min(firstSlice, image.size());
            payload.insert(payload.end(), image.begin(), image.begin() + std::ptrdiff_t(take));
            sent = take;
            current = DataFrame(payload);
        } else if (sent < image.size()) {
            const std::size_t take = std::min<std::size_t>(4096, image.size() - sent);
            current = DataFrame({image.begin() + std::ptrdiff_t(sent), image.begin() + std::ptrdiff_t(sent + take)});
            sent += take;
        } else {
            const CommandFrame end = EncodeCommandFrame(endCode);
            current.assign(end.begin(), end.end());
            endBuilt = true;
        }
    }
    void Emit(ScriptedPort& p, bool advance) {
        if (advance && !pending) BuildNext();
        pending = true;
        if (beforeFrame && beforeFrame(calls++, p)) return;
        p.Queue(current);
        pending = false;
        endDelivered = endBuilt;
    }
    ScriptedPort::Reaction Reaction() {
        return [this](const ParsedFrame& f, ScriptedPort& p) {
            if (f.kind != ParsedFrame::Kind::Command) return;
            if (!ready) {
                const bool asked =
                    waitForStandBy ? f.code == kCodeStandBy : (f.code == 32 || f.code == 51 || f.code == 4);
                if (!asked) return;
                ready = true;
                p.QueueCommand(kCodeReadBackReady);
                Emit(p, true);
            } else if (f.code == kCodeAck) {
                if (!endDelivered) Emit(p, true);
            } else if (f.code == kCodeRepeat || f.code == kCodeSpeedChange) {
                Emit(p, false);
            }
        };
    }
};

class ReadBack : public ::testing::Test {
protected:
    void SetUp() override {
        LinkTime().SetSpeedUp(kFastClock);
        std::random_device random;
        for (std::filesystem::path path; folder.empty();) {
            path = std::filesystem::temp_directory_path() / ("tarven-readback-" + std::to_string(random()));
            if (std::filesystem::create_directory(path)) folder = path.string();
        }
        file = folder + "/Def_Data.bin";
    }
    void TearDown() override {
        if (run) run->Stop();
        std::filesystem::remove_all(folder);
        LinkTime().SetSpeedUp(1);
    }
    void Start(std::int32_t kind, ScriptedPort::Reaction reaction) {
        auto owned = std::make_unique<ScriptedPort>(std::move(reaction));
        port = owned.get();
        run = std::make_unique<LiveRun>(
            RunRequest{.mode = LinkMode::ReadBack, .fileName = file, .kind = ImageKind(kind)}, std::move(owned));
        ASSERT_TRUE(run->Start());
    }
    std::intptr_t RunToEnd(std::int32_t kind, Server& server) {
        Start(kind, server.Reaction());
        EXPECT_TRUE(run->notifier.WaitForEvent(Ev::Finished));
        return run->notifier.FinishResult();
    }
    std::vector<std::uint8_t> FileBytes(const std::string& name = {}) const {
        std::ifstream in(name.empty() ? file : name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string folder, file;
    ScriptedPort* port = nullptr;
    std::unique_ptr<LiveRun> run;
};

TEST_F(ReadBack, AMegabyteArrivesWholeWithKilobyteProgress) {
    Server server{Image(1048576), 1048576};
    EXPECT_EQ(RunToEnd(KindFactoryData, server), kResultSuccess);
    EXPECT_EQ(FileBytes(), server.image);
    EXPECT_EQ(port->Commands().front(), 32);
    EXPECT_EQ(run->notifier.Progress(Ev::Total), std::vector<std::intptr_t>{1024});
    const auto positions = run->notifier.Progress(Ev::Position);
    ASSERT_EQ(positions.size(), 256u);
    EXPECT_EQ(positions.front(), 4);
    EXPECT_EQ(positions.back(), (1048576 + 4) / 1024);
}

TEST_F(ReadBack, AHeaderOnlyFirstPayloadWritesNothingForIt) {
    Server server{Image(10000), 10000};
    server.firstSlice = 0;
    EXPECT_EQ(RunToEnd(KindUserData, server), kResultSuccess);
    EXPECT_EQ(FileBytes(), server.image);
    EXPECT_EQ(port->Commands().front(), 51);
    EXPECT_EQ(run->notifier.Progress(Ev::Position).front(), 0);
}

TEST_F(ReadBack, TheOtherEndCodeEndsTheSameWay) {
    Server server{Image(5000), 5000};
    server.endCode = kCodeEndOfImageAlt;
    EXPECT_EQ(RunToEnd(KindFactoryData, server), kResultSuccess);
    EXPECT_EQ(FileBytes(), server.image);
}

TEST_F(ReadBack, AnImageShortOfTheAnnouncedLengthIsReportedAndKeptAsPartial) {
    Server server{Image(8191), 8192};
    EXPECT_EQ(RunToEnd(KindFactoryData, server), kResultLengthMismatch);
    EXPECT_EQ(Listing(), std::vector<std::string>{"Def_Data.bin.partial"});
    EXPECT_EQ(FileBytes(file + ".partial"), server.image);
}

TEST_F(ReadBack, AnAcknowledgementAnsweredWithARepeatIsSentAgain) {
    Server server{Image(3 * 4096), 3 * 4096};
    bool repeated = false;
    server.beforeFrame = [&](int call, ScriptedPort& p) {
        if (call != 1 || repeated) return false;
        repeated = true;
        p.QueueCommand(kCodeRepeat);
        return true;
    };
    EXPECT_EQ(RunToEnd(KindFactoryData, server), kResultSuccess);
    EXPECT_EQ(FileBytes(), server.image);
    const auto commands = port->Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), kCodeAck), 5)
        << "three frames, one answer again, the end code";
}

// A frame header announcing 4,100 payload bytes followed by only 100 of them.
std::vector<std::uint8_t> ShortFrame() {
    auto frame = DataFrame(std::vector<std::uint8_t>(4100, 0x5A));
    frame.resize(112);
    return frame;
}

TEST_F(ReadBack, SixShortFramesInARowSlowTheLineDown) {
    Server server{Image(4096), 4096};
    int shorts = 0;
    server.beforeFrame = [&](int, ScriptedPort& p) {
        if (shorts >= 6) return false;
        ++shorts;
        p.Queue(ShortFrame());
        return true;
    };
    Start(KindFactoryData, server.Reaction());
    ASSERT_TRUE(run->notifier.WaitForEvent(Ev::Finished));
    const auto commands = port->Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), kCodeRepeat), 5);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), kCodeSpeedChange), 1);
    EXPECT_EQ(port->Speeds().back(), kBaudSlow);
}

TEST_F(ReadBack, AGoodFrameResetsTheShortFrameCount) {
    Server server{Image(3 * 4096), 3 * 4096};
    // Three short frames before the second slice and three before the third.
    server.beforeFrame = [&](int call, ScriptedPort& p) {
        const bool shortNow = (call >= 1 && call <= 3) || (call >= 5 && call <= 7);
        if (!shortNow) return false;
        p.Queue(ShortFrame());
        return true;
    };
    EXPECT_EQ(RunToEnd(KindFactoryData, server), kResultSuccess);
    const auto commands = port->Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), kCodeSpeedChange), 0);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), kCodeRepeat), 6);
    EXPECT_EQ(FileBytes(), server.image);
}

TEST_F(ReadBack, TheSoftwareKindsStaySilentUntilFiftySecondsOfSilence) {
    Server server{Image(4096), 4096};
    server.waitForStandBy = true;
    const std::int64_t start = LinkTime().NowUs();
    EXPECT_EQ(RunToEnd(KindSoftware, server), kResultSuccess);
    const auto times = port->FrameTimesUs();
    EXPECT_EQ(port->Commands().front(), kCodeStandBy);
    EXPECT_GE(times.front() - start, 50'000'000);
}

TEST_F(ReadBack, AStoppedRunLeavesAnExistingFileAsItWasAndNothingBeside) {
    std::ofstream(file) << "old contents";
    Start(KindFactoryData, [](const ParsedFrame&, ScriptedPort&) {});
    for (int i = 0; i < 2000 && port->Commands().empty(); ++i) std::this_thread::sleep_for(1ms);
    run->Stop();
    EXPECT_EQ(FileBytes(), std::vector<std::uint8_t>({'o', 'l', 'd', ' ', 'c', 'o', 'n', 't', 'e', 'n', 't', 's'}));
    EXPECT_EQ(Listing(), std::vector<std::string>{"Def_Data.bin"}) << "a temporary that received nothing is removed";
}

#ifndef _WIN32
TEST_F(ReadBack, AWholeImageReplacesTheFileALinkNamesAndKeepsItsPermissionBits) {
    const std::string real = folder + "/real.bin";
    std::ofstream(real) << "old";
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    ASSERT_EQ(::symlink("real.bin", file.c_str()), 0);
    Server server{Image(5000), 5000};
    EXPECT_EQ(RunToEnd(KindFactoryData, server), kResultSuccess);
    EXPECT_EQ(FileBytes(real), server.image);
    struct stat st {};
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link itself stays";
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Listing(), (std::vector<std::string>{"Def_Data.bin", "real.bin"}));
}
#endif

TEST_F(ReadBack, NothingVerifiableIsNeverASuccess) {
    // An end code before any data frame.
    Start(KindFactoryData, [](const ParsedFrame& f, ScriptedPort& p) {
        if (f.code == 32) {
            p.QueueCommand(kCodeReadBackReady);
            p.QueueCommand(kCodeEndOfImage);
        }
    });
    ASSERT_TRUE(run->notifier.WaitForEvent(Ev::Finished));
    EXPECT_EQ(run->notifier.FinishResult(), kResultLengthMismatch);
    run->Stop();

    // A first payload too short to hold the length header.
    Start(KindFactoryData, [](const ParsedFrame& f, ScriptedPort& p) {
        if (f.code == 32) {
            p.QueueCommand(kCodeReadBackReady);
            p.QueueData({0, 0, 1});
        } else if (f.code == kCodeAck) {
            p.QueueCommand(kCodeEndOfImage);
        }
    });
    ASSERT_TRUE(run->notifier.WaitForEvent(Ev::Finished));
    EXPECT_EQ(run->notifier.FinishResult(), kResultLengthMismatch);
}

TEST_F(ReadBack, AnImageLargerThanTheBufferStopsWithoutOverrun) {
    int frames = 0;
    Start(KindFactoryData, [&](const ParsedFrame& f, ScriptedPort& p) {
        if (f.code == 32) p.QueueCommand(kCodeReadBackReady);
        if (f.code == 32 || f.code == kCodeAck) {
            std::vector<std::uint8_t> payload(60000, std::uint8_t(frames));
            if (frames++ == 0) WriteBigEndian32(payload.data(), 3'000'000);
            p.QueueData(payload);
        }
    });
    ASSERT_TRUE(run->notifier.WaitForEvent(Ev::Finished));
    EXPECT_EQ(run->notifier.FinishResult(), kResultLengthMismatch);
    EXPECT_EQ(FileBytes(file + ".partial").size(), 43u * 60000 - 4) << "every payload that fitted is kept";
}

TEST_F(ReadBack, TheChipKindsAreRefusedWithoutTouchingTheFileOrTheLine) {
    std::ofstream(file) << "keep";
    Start(KindChip, [](const ParsedFrame&, ScriptedPort&) {});
    ASSERT_TRUE(run->notifier.WaitForEvent(Ev::Finished));
    EXPECT_EQ(run->notifier.FinishResult(), kResultFailure);
    EXPECT_TRUE(port->Written().empty());
    EXPECT_EQ(FileBytes().size(), 4u);
}

TEST_F(ReadBack, AFileThatCannotBeCreatedIsReported) {
    auto owned = std::make_unique<ScriptedPort>();
    port = owned.get();
    run = std::make_unique<LiveRun>(
        RunRequest{.mode = LinkMode::ReadBack, .fileName = folder + "/missing/x.bin", .kind = ImageKind::FactoryData},
        std::move(owned));
    ASSERT_TRUE(run->Start());
    ASSERT_TRUE(run->notifier.WaitForEvent(Ev::Finished));
    EXPECT_EQ(run->notifier.FinishResult(), kResultFailure);
    EXPECT_EQ(run->notifier.Boxes(), std::vector<std::string>{folder + "/missing/x.bincreate failed !"});
    EXPECT_TRUE(port->Written().empty());
}

}  // namespace
}  // namespace tarven::test
