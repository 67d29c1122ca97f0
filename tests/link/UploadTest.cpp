// Uploads against scripted receivers: exact frames on the wire, start codes by
// kind and level, the receiver's repeat, speed-change and abort answers.
#include <gtest/gtest.h>
#include <unistd.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include <fstream>
#include <thread>

#include "RunHarness.h"
#include "ScriptedPort.h"

namespace tarven::test {
namespace {

using namespace std::chrono_literals;

std::vector<std::uint8_t> Image(std::size_t size) {
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i) image[i] = std::uint8_t((i * 31 + i / 4096) & 0xFF);
    return image;
}

// A receiver that takes the preamble, acknowledges every block and the end
// code; `onBlock` may answer a block (0-based) differently: return true when it did.
struct Receiver {
    std::function<bool(int block, ScriptedPort&)> onBlock;
    std::function<bool(ScriptedPort&)> onEnd;
    bool preambleSeen = false;
    int blocks = 0;

    ScriptedPort::Reaction Reaction() {
        return [this](const ParsedFrame& f, ScriptedPort& p) {
            if (f.kind == ParsedFrame::Kind::Data) {
                if (!(onBlock && onBlock(blocks, p))) p.QueueCommand(kCodeAck);
                ++blocks;
            } else if (f.code == kCodeUploadPreamble && !preambleSeen) {
                preambleSeen = true;
                p.QueueCommand(kCodeStandBy);
            } else if (f.code == kCodeEndOfImage) {
                if (!(onEnd && onEnd(p))) p.QueueCommand(kCodeAck);
            }
        };
    }
};

class Upload : public ::testing::Test {
protected:
    void SetUp() override {
        LinkTime().SetSpeedUp(kFastClock);
        char name[] = "/tmp/tarven-upload-XXXXXX";
        const int fd = ::mkstemp(name);
        ::close(fd);
        file = name;
    }
    void TearDown() override {
        if (run) run->Stop();
        ::unlink(file.c_str());
        LinkTime().SetSpeedUp(1);
    }
    void WriteImage(const std::vector<std::uint8_t>& image) {
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    }
    // Runs the upload to its finishing event and returns the posted result.
    std::intptr_t Run(std::int32_t kind, int level, Receiver& receiver, const std::string& name = {}) {
        auto owned = std::make_unique<ScriptedPort>(receiver.Reaction());
        owned->RefuseSpeed(refusedSpeed);
        port = owned.get();
        run = std::make_unique<LiveRun>(RunRequest{.mode = LinkMode::Upload,
                                                   .fileName = name.empty() ? file : name,
                                                   .kind = ImageKind(kind),
                                                   .level = AccessLevel(level)},
                                        std::move(owned));
        EXPECT_TRUE(run->Start());
        EXPECT_TRUE(run->notifier.WaitForEvent(Ev::Finished));
        return run->notifier.FinishResult();
    }
    // The image the receiver could rebuild from the payloads it got, each block once.
    static std::vector<std::uint8_t> Rebuilt(const std::vector<std::vector<std::uint8_t>>& payloads) {
        if (payloads.empty() || payloads[0].size() < 4) return {};
        const std::uint32_t length = ReadBigEndian32(payloads[0].data());
        std::vector<std::uint8_t> image(payloads[0].begin() + 4, payloads[0].end());
        for (std::size_t i = 1; i < payloads.size(); ++i)
            image.insert(image.end(), payloads[i].begin(), payloads[i].end());
        image.resize(std::min<std::size_t>(image.size(), length));
        return image;
    }

    std::string file;
    std::uint32_t refusedSpeed = 0;  // a speed the port's driver refuses
    ScriptedPort* port = nullptr;
    std::unique_ptr<LiveRun> run;
};

TEST_F(Upload, AnImageOfOneBlockGoesInOneFrameThenTheEndCode) {
    const auto image = Image(4096);
    WriteImage(image);
    Receiver receiver;
    EXPECT_EQ(Run(KindSoftware, 0, receiver), kResultSuccess);
    EXPECT_EQ(port->Commands(), (std::vector<std::uint16_t>{18, 55, 19}));
    const auto payloads = port->Payloads();
    ASSERT_EQ(payloads.size(), 1u);
    ASSERT_EQ(payloads[0].size(), 4100u);
    EXPECT_EQ(ReadBigEndian32(payloads[0].data()), 4096u);
    EXPECT_EQ(Rebuilt(payloads), image);
    EXPECT_EQ(run->notifier.Progress(Ev::Total), std::vector<std::intptr_t>{4});
    EXPECT_EQ(run->notifier.Progress(Ev::Position), std::vector<std::intptr_t>{4});
}

TEST_F(Upload, OneByteMoreTakesASecondFrameOfOneByte) {
    const auto image = Image(4097);
    WriteImage(image);
    Receiver receiver;
    EXPECT_EQ(Run(KindSoftware, 0, receiver), kResultSuccess);
    const auto payloads = port->Payloads();
    ASSERT_EQ(payloads.size(), 2u);
    EXPECT_EQ(payloads[1], std::vector<std::uint8_t>{image[4096]});
    EXPECT_EQ(Rebuilt(payloads), image);
}

TEST_F(Upload, AMegabyteGoesInTwoHundredFiftySixFramesWithKilobytePositions) {
    const auto image = Image(1048576);
    WriteImage(image);
    Receiver receiver;
    EXPECT_EQ(Run(KindFullImage, 1, receiver), kResultSuccess);
    const auto payloads = port->Payloads();
    ASSERT_EQ(payloads.size(), 256u);
    EXPECT_EQ(payloads[0].size(), 4100u);
    for (std::size_t i = 1; i < payloads.size(); ++i) ASSERT_EQ(payloads[i].size(), 4096u) << i;
    EXPECT_EQ(Rebuilt(payloads), image);
    std::vector<std::intptr_t> expected;
    for (int k = 1; k < 256; ++k) expected.push_back((4100 + 4096 * (k - 1)) / 1024);
    expected.push_back(1024);
    EXPECT_EQ(run->notifier.Progress(Ev::Position), expected);
    EXPECT_EQ(run->notifier.Progress(Ev::Total), std::vector<std::intptr_t>{1024});
}

TEST_F(Upload, AShortChipImageSkipsThePreambleAndPadsItsBlockWithZeros) {
    const auto image = Image(1500);
    WriteImage(image);
    Receiver receiver;
    EXPECT_EQ(Run(KindChip, 2, receiver), kResultSuccess);
    EXPECT_EQ(port->Commands(), (std::vector<std::uint16_t>{36, 19}));
    const auto payloads = port->Payloads();
    ASSERT_EQ(payloads.size(), 1u);
    ASSERT_EQ(payloads[0].size(), 4100u);
    EXPECT_EQ(ReadBigEndian32(payloads[0].data()), 1500u);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), payloads[0].begin() + 4));
    EXPECT_TRUE(std::all_of(payloads[0].begin() + 4 + 1500, payloads[0].end(), [](auto b) { return b == 0; }));
    EXPECT_EQ(run->notifier.Progress(Ev::Total), std::vector<std::intptr_t>{1});
}

TEST_F(Upload, StartCodesFollowKindAndAccessLevel) {
    struct Case {
        std::int32_t kind;
        int level;
        std::vector<std::uint16_t> opening;
    };
    const Case cases[] = {
        {KindFactoryData, 0, {18, 30}},        {KindUserData, 2, {18, 49}},           {KindSoftware, 1, {18, 55}},
        {KindFullImage, 0, {18, 18}},          {KindFullImage, 1, {18, 54}},          {KindFullImage, 2, {18, 54}},
        {KindSoftwareDataLoader, 0, {18, 34}}, {KindSoftwareDataLoader, 1, {18, 53}}, {KindFullX, 0, {36}},
    };
    WriteImage(Image(100));
    for (const Case& c : cases) {
        Receiver receiver;
        EXPECT_EQ(Run(c.kind, c.level, receiver), kResultSuccess);
        auto commands = port->Commands();
        commands.resize(c.opening.size());
        EXPECT_EQ(commands, c.opening) << "kind " << c.kind << " level " << c.level;
        run->Stop();
        run.reset();
    }
}

TEST_F(Upload, ASpeedChangeResendsTheSameBlockAtTheSlowerSpeed) {
    const auto image = Image(5 * 4096);
    WriteImage(image);
    Receiver receiver;
    bool asked = false;
    receiver.onBlock = [&](int block, ScriptedPort& p) {
        if (block != 2 || asked) return false;
        asked = true;
        p.QueueCommand(kCodeSpeedChange);
        return true;
    };
    EXPECT_EQ(Run(KindSoftware, 0, receiver), kResultSuccess);
    const auto payloads = port->Payloads();
    ASSERT_EQ(payloads.size(), 6u);
    EXPECT_EQ(payloads[2], payloads[3]) << "the same block again";
    EXPECT_EQ(port->Speeds().back(), kBaudSlow);
    const auto speeds = port->FrameSpeeds();
    EXPECT_EQ(speeds.back(), kBaudSlow) << "later frames go at 57,600 baud";
    EXPECT_EQ(run->Session().Engine().Settings().baudRate, kBaudSlow);
}

// A driver that cannot make 57,600 baud must not leave the upload going on
// at 115,200 while the receiver listens at the slower speed.
TEST_F(Upload, ASpeedTheDriverRefusesEndsTheRunNamingThePortAndSpeed) {
    WriteImage(Image(5 * 4096));
    Receiver receiver;
    receiver.onBlock = [&](int block, ScriptedPort& p) {
        if (block != 2) return false;
        p.QueueCommand(kCodeSpeedChange);
        return true;
    };
    refusedSpeed = kBaudSlow;
    EXPECT_EQ(Run(KindSoftware, 0, receiver), kResultFailure);
    EXPECT_EQ(run->notifier.FinishedEvent()->failure.fault, RunFault::SpeedRefused);
    EXPECT_EQ(run->notifier.Boxes(),
              std::vector<std::string>{"scripted: the driver refused 57600 baud; the transfer was stopped"});
    EXPECT_EQ(port->Payloads().size(), 3u) << "nothing more goes out at the old speed";
}

TEST_F(Upload, ARepeatRequestResendsTheBlockWithoutAdvancing) {
    const auto image = Image(3 * 4096);
    WriteImage(image);
    Receiver receiver;
    receiver.onBlock = [&](int block, ScriptedPort& p) {
        if (block != 1) return false;
        p.QueueCommand(kCodeRepeat);
        return true;
    };
    EXPECT_EQ(Run(KindSoftware, 0, receiver), kResultSuccess);
    const auto payloads = port->Payloads();
    ASSERT_EQ(payloads.size(), 4u);
    EXPECT_EQ(payloads[1], payloads[2]);
    EXPECT_EQ(run->notifier.Progress(Ev::Position), (std::vector<std::intptr_t>{4, 8, 12}));
}

TEST_F(Upload, AnAbortAnswerAbortsAndRestoresTheNormalSpeed) {
    WriteImage(Image(3 * 4096));
    Receiver receiver;
    receiver.onBlock = [&](int block, ScriptedPort& p) {
        if (block == 0) {
            p.QueueCommand(kCodeSpeedChange);
            return true;
        }
        if (block == 2) {
            p.QueueCommand(kCodeAbort);
            return true;
        }
        return false;
    };
    EXPECT_EQ(Run(KindSoftware, 0, receiver), kResultFailure);
    EXPECT_EQ(port->Commands().back(), kCodeAbort);
    EXPECT_EQ(port->Speeds().back(), kBaudNormal);
}

TEST_F(Upload, ACorruptReplyAbortsTheRun) {
    WriteImage(Image(3 * 4096));
    Receiver receiver;
    receiver.onBlock = [&](int block, ScriptedPort& p) {
        if (block != 1) return false;
        auto bad = DataFrame(std::vector<std::uint8_t>{1, 2, 3});
        bad[13] ^= 1;
        p.Queue(bad);
        return true;
    };
    EXPECT_EQ(Run(KindSoftware, 0, receiver), kResultFailure);
    EXPECT_EQ(port->Commands().back(), kCodeAbort);
}

TEST_F(Upload, SilenceAfterTheEndCodeEndsAfterFourEndCodes) {
    WriteImage(Image(4096));
    Receiver receiver;
    receiver.onEnd = [](ScriptedPort&) { return true; };
    EXPECT_EQ(Run(KindFullImage, 1, receiver), kResultSuccess);
    EXPECT_EQ(port->Commands(), (std::vector<std::uint16_t>{18, 54, 19, 19, 19, 19}));
}

TEST_F(Upload, UploadDoneFromTheReceiverEndsWithSuccess) {
    WriteImage(Image(4096));
    Receiver receiver;
    receiver.onEnd = [](ScriptedPort& p) {
        p.QueueCommand(kCodeUploadDone);
        return true;
    };
    EXPECT_EQ(Run(KindSoftware, 0, receiver), kResultSuccess);
}

TEST_F(Upload, SilenceWhileBlocksGoOutAsksForARepeat) {
    WriteImage(Image(2 * 4096));
    Receiver receiver;
    bool quiet = false;
    receiver.onBlock = [&](int block, ScriptedPort&) {
        if (block != 1 || quiet) return false;
        quiet = true;
        return true;  // no answer at all
    };
    port = nullptr;
    auto owned = std::make_unique<ScriptedPort>([&](const ParsedFrame& f, ScriptedPort& p) {
        if (f.kind == ParsedFrame::Kind::Command && f.code == kCodeRepeat) {
            p.QueueCommand(kCodeAck);  // the lost acknowledgement, at last
            return;
        }
        receiver.Reaction()(f, p);
    });
    port = owned.get();
    run = std::make_unique<LiveRun>(RunRequest{.mode = LinkMode::Upload, .fileName = file, .kind = ImageKind::Software},
                                    std::move(owned));
    ASSERT_TRUE(run->Start());
    ASSERT_TRUE(run->notifier.WaitForEvent(Ev::Finished));
    EXPECT_EQ(run->notifier.FinishResult(), kResultSuccess);
    EXPECT_EQ(port->Commands(), (std::vector<std::uint16_t>{18, 55, 1, 19}));
}

// The wire stays as it was; what changes is whether the engine vouches for a
// result 1. A slow receiver whose late acknowledgement crosses the PC's repeat
// request answers twice, and the PC runs one block ahead: that success, and
// one whose end code was never answered, must not pass as confirmed.
TEST_F(Upload, ASuccessTheReceiverMayNotHoldIsFlaggedUnconfirmed) {
    struct Case {
        const char* name;
        std::function<void(Receiver&, int& state)> setUp;
        bool slowAck;  // block 1's acknowledgement comes only with the PC's repeat request
        UploadDoubt expected;
    };
    const Case cases[] = {
        {"clean", [](Receiver&, int&) {}, false, UploadDoubt::None},
        {"end code answered late",
         [](Receiver& r, int& state) {
             r.onEnd = [&state](ScriptedPort& p) {
                 if (state++) p.QueueCommand(kCodeAck);
                 return true;
             };
         },
         false, UploadDoubt::None},
        {"receiver asks for a repeat",
         [](Receiver& r, int& state) {
             r.onBlock = [&state](int block, ScriptedPort& p) {
                 if (block != 1 || state++) return false;
                 p.QueueCommand(kCodeRepeat);
                 return true;
             };
         },
         false, UploadDoubt::BlockResent},
        {"slow acknowledgement", [](Receiver&, int&) {}, true, UploadDoubt::AckAfterRepeat},
        {"end code never answered", [](Receiver& r, int&) { r.onEnd = [](ScriptedPort&) { return true; }; }, false,
         UploadDoubt::EndUnanswered},
        // The line says block 1's acknowledgement twice: the PC takes the copy
        // for block 2's, and only the answer still coming after the end shows it.
        {"acknowledgement said twice",
         [](Receiver& r, int&) {
             r.onBlock = [](int block, ScriptedPort& p) {
                 if (block != 1) return false;
                 p.QueueCommand(kCodeAck);
                 p.QueueCommand(kCodeAck);
                 return true;
             };
         },
         false, UploadDoubt::StrayReply},
        {"repeat asked after the end code",
         [](Receiver& r, int& state) {
             r.onEnd = [&state](ScriptedPort& p) {
                 p.QueueCommand(state++ ? kCodeAck : kCodeRepeat);
                 return true;
             };
         },
         false, UploadDoubt::BlockResent},
    };
    const auto image = Image(4 * 4096);
    WriteImage(image);
    for (const Case& c : cases) {
        Receiver receiver;
        int state = 0;
        c.setUp(receiver, state);
        bool held = false;
        auto owned = std::make_unique<ScriptedPort>([&](const ParsedFrame& f, ScriptedPort& p) {
            if (c.slowAck && f.kind == ParsedFrame::Kind::Data && receiver.blocks == 1 && !held) {
                held = true;  // block 1 taken, its acknowledgement still on its way
                ++receiver.blocks;
                return;
            }
            if (c.slowAck && f.kind == ParsedFrame::Kind::Command && f.code == kCodeRepeat) {
                p.QueueCommand(kCodeAck);  // the late one
                p.QueueCommand(kCodeAck);  // the answer to the repeat: the last one again
                return;
            }
            receiver.Reaction()(f, p);
        });
        port = owned.get();
        run = std::make_unique<LiveRun>(
            RunRequest{.mode = LinkMode::Upload, .fileName = file, .kind = ImageKind::Software}, std::move(owned));
        ASSERT_TRUE(run->Start()) << c.name;
        ASSERT_TRUE(run->notifier.WaitForEvent(Ev::Finished)) << c.name;
        EXPECT_EQ(run->notifier.FinishResult(), kResultSuccess) << c.name;
        EXPECT_EQ(run->notifier.FinishedEvent()->doubt, c.expected) << c.name;
        EXPECT_EQ(std::string(UploadDoubtText(c.expected)).empty(), c.expected == UploadDoubt::None) << c.name;
        run->Stop();
        run.reset();
    }
}

TEST_F(Upload, AFileThatCannotBeReadSendsNothing) {
    Receiver receiver;
    EXPECT_EQ(Run(KindSoftware, 0, receiver, "/nonexistent/main.bin"), kResultFailure);
    EXPECT_TRUE(port->Written().empty());
    EXPECT_EQ(run->notifier.Boxes(), std::vector<std::string>{"/nonexistent/main.binFile Open Error"});
}

#ifndef _WIN32
TEST_F(Upload, AFifoNamedLikeAnImageIsRefusedWithoutWaitingForAWriter) {
    const std::string fifo = file + ".bin";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto owned = std::make_unique<ScriptedPort>();
    port = owned.get();
    run = std::make_unique<LiveRun>(RunRequest{.mode = LinkMode::Upload, .fileName = fifo, .kind = ImageKind::Software},
                                    std::move(owned));
    ASSERT_TRUE(run->Start());
    const bool finished = run->notifier.WaitForEvent(Ev::Finished, 5s);
    if (!finished) {
        // A writer lets the stuck open return, so the test can end.
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        run->Stop();
        ::close(writer);
    }
    ::unlink(fifo.c_str());
    ASSERT_TRUE(finished) << "the upload waits for a writer on the FIFO";
    EXPECT_EQ(run->notifier.FinishResult(), kResultFailure);
    EXPECT_TRUE(port->Written().empty());
    EXPECT_EQ(run->notifier.Boxes(), std::vector<std::string>{fifo + "File Open Error"});
}
#endif

TEST_F(Upload, AFileLargerThanTheImageBufferIsRefusedBeforeAnythingIsSent) {
    WriteImage(Image(kUploadBufferSize + 1));
    Receiver receiver;
    EXPECT_EQ(Run(KindSoftware, 0, receiver), kResultFailure);
    EXPECT_TRUE(port->Written().empty());
    EXPECT_EQ(run->notifier.Boxes(), std::vector<std::string>{file + "File Open Error"});
}

}  // namespace
}  // namespace tarven::test
