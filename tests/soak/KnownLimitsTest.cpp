// Faults the protocol as designed cannot see or never recovers from, each
// pinned down once with a deterministic line. These tests state the limit as
// it stands: when one fails, the engine (or the protocol) has changed, and
// the soak's bookkeeping of that limit must change with it.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <thread>

#include "LinkClock.h"
#include "LiveTransfer.h"
#include "SoakRun.h"
#include "SoakSupport.h"

namespace tarven::soak {
namespace {

using namespace std::chrono_literals;

class KnownLimits : public ::testing::Test {
protected:
    void TearDown() override { LinkTime().SetSpeedUp(1.0); }

    static Bytes Image(std::size_t size, std::uint64_t seed) {
        std::mt19937_64 rng(seed);
        return RandomImage(size, rng);
    }
    static sim::SimOptions Paced() {
        sim::SimOptions o;
        o.line.paced = true;
        return o;
    }
    static Bytes FileBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static std::chrono::milliseconds RealOf(int linkMs) {
        return std::chrono::milliseconds(LinkTime().RealMs(linkMs) + 1000);
    }
};

// The receiver vanishes as the end code reaches it: it never takes the end
// code, yet four unanswered end codes make the upload a success, one the
// engine does not vouch for.
TEST_F(KnownLimits, FourUnansweredEndCodesCountAsSuccessWithTheReceiverGone) {
    LinkTime().SetSpeedUp(TimingOf(Transfer::Upload).speedUp);
    const Bytes image = Image(3 * kBlockSize, 1);
    sim::SimOptions o = Paced();
    o.line.vanishAfterFrames = 6;  // 18, start code, three blocks, then the end code
    LiveTransfer run(Transfer::Upload, o, image, KindSoftware);
    ASSERT_TRUE(run.Start());
    EXPECT_EQ(run.notifier.WaitForFinish(RealOf(60000)), kResultSuccess);
    EXPECT_EQ(run.notifier.Doubt(), UploadDoubt::EndUnanswered);
    ASSERT_TRUE(run.Sim().Vanished());
    const auto uploads = run.Sim().Uploads();
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].endCodes, 0) << "the receiver never took an end code";
    EXPECT_FALSE(uploads[0].complete);
}

// The answer to the preamble is lost: the upload waits for it and never sends
// the preamble again (500 s waits, again and again, until the user cancels).
TEST_F(KnownLimits, AnUnansweredPreambleIsNeverSentAgain) {
    LinkTime().SetSpeedUp(TimingOf(Transfer::Upload).speedUp);
    sim::SimOptions o = Paced();
    o.upload.silentPreambles = 1;
    LiveTransfer run(Transfer::Upload, o, Image(2 * kBlockSize, 2), KindSoftware);
    ASSERT_TRUE(run.Start());
    // Twice the longest wait of the data phase, and more: still waiting.
    EXPECT_EQ(run.notifier.WaitForFinish(RealOf(90000) - 1000ms), -1);
    EXPECT_EQ(run.Sim().ReceivedCodes(), std::vector<std::uint16_t>{kCodeUploadPreamble});
    EXPECT_EQ(run.Phase(), "preamble wait");
}

// A block meets the receiver's silence. The PC's repeat requests then get the
// previous block's acknowledgement again, which it takes for the lost
// block's: the block is skipped, the receiver knows its image is short, and
// still acknowledges the end code, so the PC reports success, unconfirmed.
TEST_F(KnownLimits, ABlockLostToSilenceIsSkippedAndTheUploadSucceeds) {
    LinkTime().SetSpeedUp(TimingOf(Transfer::Upload).speedUp);
    const Bytes image = Image(5 * kBlockSize, 3);
    sim::SimOptions o = Paced();
    o.line.silentAfterFrames = 5;  // 18, start code, block 1, block 2, block 3
    o.line.silentMs = 8000;        // longer than two of the PC's 3 s waits
    LiveTransfer run(Transfer::Upload, o, image, KindSoftware);
    ASSERT_TRUE(run.Start());
    EXPECT_EQ(run.notifier.WaitForFinish(RealOf(90000)), kResultSuccess);
    EXPECT_EQ(run.notifier.Doubt(), UploadDoubt::AckAfterRepeat);
    const auto uploads = run.Sim().Uploads();
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_FALSE(uploads[0].complete);
    EXPECT_EQ(SliceSequence(uploads[0].image, ImageSlices(image)), (std::vector<int>{1, 2, 4, 5}));
    // The PC sent every block once: nothing asked it for block 3 again.
    EXPECT_EQ(run.log.SentDataFrames(), 5u);
}

// A read-back whose acknowledgement is lost never recovers: the receiver sends
// the block again, the PC stores it again (the first block with its length
// header, as it stores every later frame whole), and the lengths differ.
TEST_F(KnownLimits, AReadBackStoresABlockTwiceWhenItsAcknowledgementIsLost) {
    struct Case {
        int lostAck;  // the receiver misses the acknowledgement of this block
        std::vector<int> file;
    };
    const Case cases[] = {
        {1, {1, kHeaderBlock, 2, 3, 4, 5}},
        {3, {1, 2, 3, 3, 4, 5}},
    };
    LinkTime().SetSpeedUp(TimingOf(Transfer::ReadBack).speedUp);
    const Bytes image = Image(5 * kBlockSize, 4);
    for (const Case& c : cases) {
        sim::SimOptions o = Paced();
        o.line.silentAfterFrames = 1 + c.lostAck;  // the request, then one acknowledgement per block
        o.line.silentMs = 2000;
        LiveTransfer run(Transfer::ReadBack, o, image, KindFactoryData);
        ASSERT_TRUE(run.Start());
        EXPECT_EQ(run.notifier.WaitForFinish(RealOf(60000)), kResultLengthMismatch) << "lost ack " << c.lostAck;
        run.TearDown();
        EXPECT_EQ(SliceSequence(FileBytes(run.Arrived()), ImageSlices(image), UploadPayloads(image)[0]), c.file)
            << "lost ack " << c.lostAck;
    }
}

// The ready code is lost (here: a stray byte ahead of it and of the first
// block puts the PC's 12-byte reads out of step). The request phase ignores
// all but the ready code and never purges, and the receiver keeps re-sending
// the block, so the 50 s of silence after which the PC would ask again never
// come: the read-back waits until the user cancels.
TEST_F(KnownLimits, AReadBackThatMissedTheReadyCodeNeverAsksAgain) {
    LinkTime().SetSpeedUp(TimingOf(Transfer::ReadBack).speedUp);
    sim::SimOptions o = Paced();
    o.line.garbageRate = 1.0;
    o.line.garbageMaxBytes = 1;
    LiveTransfer run(Transfer::ReadBack, o, Image(5 * kBlockSize, 5), KindFactoryData);
    // Only the ready code and the first block carry the stray byte.
    run.Sim().SetEventCallback([&sim = run.Sim()](const sim::SimEvent& e) {
        if (e.type == sim::SimEvent::Type::ReadBackStarted)
            sim.UpdateOptions([](sim::SimOptions& s) { s.line.garbageRate = 0; });
    });
    ASSERT_TRUE(run.Start());
    // Longer than the 50 s of silence after which the PC would ask again.
    EXPECT_EQ(run.notifier.WaitForFinish(RealOf(70000) - 1000ms), -1);
    EXPECT_EQ(run.Phase(), "request wait");
    EXPECT_EQ(run.Sim().ReceivedCodes(), std::vector<std::uint16_t>{32}) << "the PC asked only once";
    const auto readBacks = run.Sim().ReadBacks();
    ASSERT_EQ(readBacks.size(), 1u);
    EXPECT_GE(readBacks[0].framesSent, 3) << "the receiver kept re-sending the first block";
    run.Sim().SetEventCallback(nullptr);
}

}  // namespace
}  // namespace tarven::soak
