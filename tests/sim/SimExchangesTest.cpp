// The simulated receiver's side of the version query, the upload and the
// read-back, driven from a plain descriptor on its device.
#include <gtest/gtest.h>

#include "ProgramSide.h"
#include "SimReceiver.h"

namespace tarven::sim {
namespace {

using testing::Bytes;
using testing::Ms;
using testing::Pattern;
using testing::ProgramSide;
using testing::UploadPayloads;

Bytes TextAt(const Bytes& block, std::size_t at) {
    Bytes text;
    while (at < block.size() && block[at] != 0) text.push_back(block[at++]);
    return text;
}
Bytes Of(const std::string& s) { return Bytes(s.begin(), s.end()); }

// ------------------------------------------------------------ version query

TEST(SimVersion, AnswersWithBlockAfterEachAcknowledgementThenEndCode) {
    SimOptions o;
    o.version.hardware = "HW-7";
    o.version.software = "SW-1.23";
    SimReceiver sim(o);
    ProgramSide pc(sim.DevicePath());

    pc.Command(kCodeVersionRequest);
    auto block = pc.Next();
    ASSERT_TRUE(block);
    ASSERT_EQ(block->kind, ParsedFrame::Kind::Data);
    ASSERT_EQ(block->payload.size(), 100u);
    EXPECT_EQ(TextAt(block->payload, 32), Of("HW-7"));
    EXPECT_EQ(TextAt(block->payload, 64), Of("SW-1.23"));
    EXPECT_EQ(block->payload[0], 0);
    // A repeat request gets the same frame again; the end code waits for the acknowledgement.
    pc.Command(kCodeRepeat);
    auto again = pc.Next();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->payload, block->payload);
    pc.Command(kCodeAck);
    EXPECT_EQ(pc.NextCode(), kCodeVersionEnd);
    EXPECT_EQ(sim.VersionAnswers(), 0);
    pc.Command(kCodeAck);
    EXPECT_TRUE(sim.WaitFor([&] { return sim.VersionAnswers() == 1; }, Ms(2000)));
}

TEST(SimVersion, SplitBlockAlternateEndCodeAndEndCodeOnly) {
    SimOptions o;
    o.version.split = 3;
    o.version.endCode = kCodeVersionEndAlt;
    SimReceiver sim(o);
    ProgramSide pc(sim.DevicePath());

    pc.Command(kCodeVersionRequest);
    Bytes joined;
    std::vector<std::size_t> sizes;
    for (int i = 0; i < 3; ++i) {
        auto frame = pc.Next();
        ASSERT_TRUE(frame && frame->kind == ParsedFrame::Kind::Data);
        sizes.push_back(frame->payload.size());
        joined.insert(joined.end(), frame->payload.begin(), frame->payload.end());
        pc.Command(kCodeAck);
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{34, 33, 33}));
    EXPECT_EQ(joined, MakeVersionBlock(o.version.hardware, o.version.software));
    EXPECT_EQ(pc.NextCode(), kCodeVersionEndAlt);
    pc.Command(kCodeAck);

    sim.UpdateOptions([](SimOptions& x) { x.version.endCodeOnly = true; });
    pc.Command(kCodeVersionRequest);
    EXPECT_EQ(pc.NextCode(), kCodeVersionEndAlt);
}

TEST(SimVersion, SilentRequestsThenBusyThenAnswer) {
    SimOptions o;
    o.version.silentRequests = 2;
    o.version.standbyFirst = true;
    SimReceiver sim(o);
    ProgramSide pc(sim.DevicePath());

    for (int i = 0; i < 2; ++i) {
        pc.Command(kCodeVersionRequest);
        EXPECT_TRUE(pc.Quiet(Ms(100))) << "request " << i + 1;
    }
    pc.Command(kCodeVersionRequest);
    EXPECT_EQ(pc.NextCode(), kCodeStandBy);
    EXPECT_TRUE(pc.Quiet(Ms(100)));  // busy: waits for the next request
    pc.Command(kCodeVersionRequest);
    auto frame = pc.Next();
    EXPECT_TRUE(frame && frame->kind == ParsedFrame::Kind::Data);

    // Told to answer by itself after the 4.
    SimOptions p;
    p.version.standbyFirst = true;
    p.version.standbyAnswerAfterMs = 50;
    SimReceiver unprompted(p);
    ProgramSide pc2(unprompted.DevicePath());
    pc2.Command(kCodeVersionRequest);
    EXPECT_EQ(pc2.NextCode(), kCodeStandBy);
    auto late = pc2.Next(Ms(1000));
    EXPECT_TRUE(late && late->kind == ParsedFrame::Kind::Data);
}

// ------------------------------------------------------------ upload

// Sends the blocks of `image`, expecting 0 after each, then the end code.
void UploadBlocks(ProgramSide& pc, const Bytes& image) {
    for (const Bytes& payload : UploadPayloads(image)) {
        pc.Data(payload);
        ASSERT_EQ(pc.NextCode(), kCodeAck);
    }
    pc.Command(kCodeEndOfImage);
}

TEST(SimUpload, FullImageAtLevelZeroArrivesByteIdentical) {
    SimReceiver sim;
    ProgramSide pc(sim.DevicePath());
    const Bytes image = Pattern(9000);

    // Kind 11993 at level 0: 18 is both the preamble and the start code.
    pc.Command(kCodeUploadPreamble);
    ASSERT_EQ(pc.NextCode(), kCodeStandBy);
    pc.Command(kCodeUploadPreamble);
    EXPECT_TRUE(pc.Quiet(Ms(50)));  // a start code gets no answer
    UploadBlocks(pc, image);
    EXPECT_EQ(pc.NextCode(), kCodeAck);

    ASSERT_TRUE(sim.WaitForUpload(Ms(1000)));
    const UploadRecord u = sim.Uploads().back();
    EXPECT_TRUE(u.preamble);
    EXPECT_EQ(u.startCode, 18);
    EXPECT_EQ(u.kind, KindFullImage);
    EXPECT_EQ(u.accessLevel, 0);
    EXPECT_EQ(u.announcedLength, 9000u);
    EXPECT_EQ(u.blocks, 3);
    EXPECT_EQ(u.payloadBytes, 9004u);
    EXPECT_TRUE(u.complete);
    EXPECT_EQ(u.image, image);
    EXPECT_EQ(u.imageCrc, Crc32(image));

    // The program repeats its end code when our answer got lost: answered again, counted once.
    pc.Command(kCodeEndOfImage);
    EXPECT_EQ(pc.NextCode(), kCodeAck);
    const auto events = sim.Events();
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const SimEvent& e) { return e.type == SimEvent::Type::UploadComplete; }),
              1);
    EXPECT_EQ(sim.Uploads().back().endCodes, 2);
}

TEST(SimUpload, ChipImageShorterThanABlockIsCutToItsLength) {
    SimReceiver sim;
    ProgramSide pc(sim.DevicePath());
    const Bytes image = Pattern(1500, 7);

    pc.Command(kCodeChipStart);  // no preamble for the chip kinds
    UploadBlocks(pc, image);
    EXPECT_EQ(pc.NextCode(), kCodeAck);
    ASSERT_TRUE(sim.WaitForUpload(Ms(1000)));
    const UploadRecord u = sim.Uploads().back();
    EXPECT_FALSE(u.preamble);
    EXPECT_EQ(u.kind, 0);
    EXPECT_EQ(u.image, image);
}

TEST(SimUpload, StartCodeWithoutPreambleAndBadCrcAreRefused) {
    SimReceiver sim;
    ProgramSide pc(sim.DevicePath());

    pc.Command(30);  // kind 11990 always needs the preamble first
    EXPECT_TRUE(pc.Quiet(Ms(100)));
    EXPECT_TRUE(sim.Uploads().empty());

    pc.Command(kCodeUploadPreamble);
    ASSERT_EQ(pc.NextCode(), kCodeStandBy);
    pc.Command(30);
    const Bytes image = Pattern(5000);
    auto payloads = UploadPayloads(image);
    Bytes broken = DataFrame(payloads[0]);
    broken[100] ^= 0x04;
    pc.Write(broken);
    EXPECT_EQ(pc.NextCode(), kCodeRepeat);
    for (const Bytes& p : payloads) {
        pc.Data(p);
        ASSERT_EQ(pc.NextCode(), kCodeAck);
    }
    pc.Command(kCodeEndOfImage);
    ASSERT_TRUE(sim.WaitForUpload(Ms(1000)));
    const UploadRecord u = sim.Uploads().back();
    EXPECT_EQ(u.kind, KindFactoryData);
    EXPECT_EQ(u.refusedFrames, 1);
    EXPECT_EQ(u.image, image);
}

TEST(SimUpload, SpeedChangeAndRepeatAtABlockKeepTheImageWhole) {
    SimOptions o;
    o.upload.speedChangeAtBlock = 2;
    o.upload.repeatAtBlock = 3;
    SimReceiver sim(o);
    ProgramSide pc(sim.DevicePath());
    const Bytes image = Pattern(12000);
    const auto payloads = UploadPayloads(image);

    pc.Command(kCodeUploadPreamble);
    ASSERT_EQ(pc.NextCode(), kCodeStandBy);
    pc.Command(55);
    pc.Data(payloads[0]);
    ASSERT_EQ(pc.NextCode(), kCodeAck);
    pc.Data(payloads[1]);
    ASSERT_EQ(pc.NextCode(), kCodeSpeedChange);
    pc.SetSpeed(B57600);
    EXPECT_TRUE(sim.WaitFor([&] { return sim.CurrentBaud() == kBaudSlow; }, Ms(1000)));
    pc.Data(payloads[1]);  // the same block again, now at 57,600
    ASSERT_EQ(pc.NextCode(), kCodeAck);
    pc.Data(payloads[2]);
    ASSERT_EQ(pc.NextCode(), kCodeRepeat);
    pc.Data(payloads[2]);
    ASSERT_EQ(pc.NextCode(), kCodeAck);
    pc.Command(kCodeEndOfImage);
    ASSERT_EQ(pc.NextCode(), kCodeAck);

    const UploadRecord u = sim.Uploads().back();
    EXPECT_EQ(u.blocks, 3);
    EXPECT_EQ(u.image, image);
    // The resent block is recorded at the speed the program switched to.
    std::vector<std::uint32_t> dataBauds;
    for (const auto& f : sim.ReceivedFrames())
        if (f.kind == FrameKind::Data) dataBauds.push_back(f.baud);
    EXPECT_EQ(dataBauds, (std::vector<std::uint32_t>{115200, 115200, 57600, 57600, 57600}));
}

TEST(SimUpload, AbortAtABlock) {
    SimOptions o;
    o.upload.abortAtBlock = 2;
    SimReceiver sim(o);
    ProgramSide pc(sim.DevicePath());
    const auto payloads = UploadPayloads(Pattern(9000));
    pc.Command(kCodeChipStart);
    pc.Data(payloads[0]);
    ASSERT_EQ(pc.NextCode(), kCodeAck);
    pc.Data(payloads[1]);
    EXPECT_EQ(pc.NextCode(), kCodeAbort);
    EXPECT_TRUE(sim.Uploads().back().aborted);
    // The upload is over: further blocks are not taken.
    pc.Data(payloads[2]);
    EXPECT_TRUE(pc.Quiet(Ms(100)));
    EXPECT_EQ(sim.Uploads().back().blocks, 1);
}

TEST(SimUpload, BrokenAndLostAcknowledgementsAreRepeatedOnRequest) {
    SimOptions o;
    o.upload.corruptReplyAtBlock = 1;
    o.upload.dropReplyAtBlock = 2;
    SimReceiver sim(o);
    ProgramSide pc(sim.DevicePath());
    const auto payloads = UploadPayloads(Pattern(6000));
    pc.Command(kCodeChipStart);

    pc.Data(payloads[0]);
    auto broken = pc.Next();
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->kind, ParsedFrame::Kind::BadMagic);
    pc.Command(kCodeRepeat);
    EXPECT_EQ(pc.NextCode(), kCodeAck);

    pc.Data(payloads[1]);
    EXPECT_TRUE(pc.Quiet(Ms(150)));
    pc.Command(kCodeRepeat);
    EXPECT_EQ(pc.NextCode(), kCodeAck);
    const auto sent = sim.SentFrames();
    EXPECT_TRUE(std::any_of(sent.begin(), sent.end(), [](const FrameRecord& f) { return f.dropped; }));
    EXPECT_EQ(sim.Uploads().back().blocks, 2);
}

TEST(SimUpload, EndCodeAnswers) {
    SimOptions o;
    o.upload.ignoreEndCodes = 2;
    o.upload.answerDoneAtEnd = true;
    SimReceiver sim(o);
    ProgramSide pc(sim.DevicePath());
    pc.Command(kCodeChipStart);
    UploadBlocks(pc, Pattern(100));
    EXPECT_TRUE(pc.Quiet(Ms(100)));
    pc.Command(kCodeEndOfImage);
    EXPECT_TRUE(pc.Quiet(Ms(100)));
    pc.Command(kCodeEndOfImage);
    EXPECT_EQ(pc.NextCode(), kCodeUploadDone);
    EXPECT_EQ(sim.Uploads().back().endCodes, 3);
    EXPECT_TRUE(sim.Uploads().back().complete);
}

// ------------------------------------------------------------ read-back

struct Served {
    Bytes image;  // payload bytes after the length header
    std::uint32_t announced = 0;
    std::vector<std::size_t> sizes;
    int endCode = -1;
};

// Plays the program's data phase: acknowledges every data frame until the end code.
Served ReceiveReadBack(ProgramSide& pc) {
    Served s;
    for (int guard = 0; guard < 100; ++guard) {
        auto frame = pc.Next();
        if (!frame) return s;
        if (frame->kind == ParsedFrame::Kind::Command) {
            s.endCode = frame->code;
            pc.Command(kCodeAck);
            return s;
        }
        if (frame->kind != ParsedFrame::Kind::Data) return s;
        s.sizes.push_back(frame->payload.size());
        std::size_t skip = 0;
        if (s.sizes.size() == 1) {
            s.announced = ReadBigEndian32(frame->payload.data());
            skip = kLengthHeaderSize;
        }
        s.image.insert(s.image.end(), frame->payload.begin() + std::ptrdiff_t(skip), frame->payload.end());
        pc.Command(kCodeAck);
    }
    return s;
}

TEST(SimReadBack, ServesImageInSlicesForEachRequestCode) {
    SimReceiver sim;
    const Bytes image = Pattern(10000, 3);
    sim.SetReadBackImage(image);
    ProgramSide pc(sim.DevicePath());

    for (std::uint16_t request : {std::uint16_t(32), std::uint16_t(51), std::uint16_t(kCodeStandBy)}) {
        SCOPED_TRACE(request);
        pc.Command(request);
        ASSERT_EQ(pc.NextCode(), kCodeReadBackReady);
        const Served s = ReceiveReadBack(pc);
        EXPECT_EQ(s.announced, 10000u);
        EXPECT_EQ(s.sizes, (std::vector<std::size_t>{4100, 4096, 1808}));
        EXPECT_EQ(s.image, image);
        EXPECT_EQ(s.endCode, kCodeEndOfImage);
        ASSERT_TRUE(sim.WaitFor([&] { return sim.ReadBacks().back().finished; }, Ms(1000)));
        EXPECT_EQ(sim.ReadBacks().back().requestCode, request);
    }
}

TEST(SimReadBack, ShapeOptions) {
    SimOptions o;
    o.readBack.firstPayloadSize = 4;
    o.readBack.endCode = kCodeEndOfImageAlt;
    o.readBack.omitLastByte = true;
    SimReceiver sim(o);
    const Bytes image = Pattern(5000);
    sim.SetReadBackImage(image);
    ProgramSide pc(sim.DevicePath());

    pc.Command(32);
    ASSERT_EQ(pc.NextCode(), kCodeReadBackReady);
    Served s = ReceiveReadBack(pc);
    EXPECT_EQ(s.sizes, (std::vector<std::size_t>{4, 4096, 903}));
    EXPECT_EQ(s.announced, 5000u);
    EXPECT_EQ(s.image, Bytes(image.begin(), image.end() - 1));
    EXPECT_EQ(s.endCode, kCodeEndOfImageAlt);

    sim.UpdateOptions([](SimOptions& x) {
        x.readBack = ReadBackOptions{};
        x.readBack.announcedLength = 1234;
    });
    pc.Command(51);
    ASSERT_EQ(pc.NextCode(), kCodeReadBackReady);
    s = ReceiveReadBack(pc);
    EXPECT_EQ(s.announced, 1234u);
    EXPECT_EQ(s.image, image);
}

TEST(SimReadBack, ShortCorruptAndRepeatFaults) {
    SimOptions o;
    o.readBack.shortFrameAtBlock = 2;
    o.readBack.shortFrameCount = 2;
    o.readBack.corruptCrcAtBlock = 1;
    o.readBack.repeatAfterBlock = 2;
    SimReceiver sim(o);
    const Bytes image = Pattern(9000);
    sim.SetReadBackImage(image);
    ProgramSide pc(sim.DevicePath());

    pc.Command(32);
    ASSERT_EQ(pc.NextCode(), kCodeReadBackReady);
    auto first = pc.Next();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->kind, ParsedFrame::Kind::BadCrc);
    pc.Command(kCodeRepeat);
    first = pc.Next();
    ASSERT_TRUE(first);
    ASSERT_EQ(first->kind, ParsedFrame::Kind::Data);
    pc.Command(kCodeAck);
    for (int i = 0; i < 2; ++i) {
        // Header announces the whole body, half of it follows.
        const Bytes shortFrame = pc.ReadUntilQuiet(Ms(100));
        ASSERT_GE(shortFrame.size(), 12u);
        const std::size_t announced = std::size_t(shortFrame[10] << 8 | shortFrame[11]);
        EXPECT_EQ(announced, 4100u);
        EXPECT_EQ(shortFrame.size(), 12u + 2050u);
        pc.Command(kCodeRepeat);
    }
    auto second = pc.Next();
    ASSERT_TRUE(second && second->kind == ParsedFrame::Kind::Data);
    EXPECT_EQ(second->payload, Bytes(image.begin() + 4096, image.begin() + 8192));
    pc.Command(kCodeAck);
    EXPECT_EQ(pc.NextCode(), kCodeRepeat);  // our acknowledgement is asked for again
    pc.Command(kCodeAck);
    auto third = pc.Next();
    ASSERT_TRUE(third && third->kind == ParsedFrame::Kind::Data);
    EXPECT_EQ(third->payload.size(), 808u);
}

TEST(SimReadBack, SpeedChangeResendsAtTheSlowerSpeed) {
    SimReceiver sim;
    sim.SetReadBackImage(Pattern(9000));
    ProgramSide pc(sim.DevicePath());
    pc.Command(32);
    ASSERT_EQ(pc.NextCode(), kCodeReadBackReady);
    auto first = pc.Next();
    ASSERT_TRUE(first);
    pc.Command(kCodeSpeedChange);
    // Nothing until the program has switched its line.
    EXPECT_TRUE(pc.Quiet(Ms(150)));
    pc.SetSpeed(B57600);
    auto again = pc.Next();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->payload, first->payload);
    const auto sent = sim.SentFrames();
    EXPECT_EQ(sent.back().baud, kBaudSlow);
    EXPECT_TRUE(sim.ReadBacks().back().speedChangeRequested);
}

TEST(SimReadBack, RequestsIgnoredBusyPushedAndResent) {
    SimOptions o;
    o.readBack.silentRequests = 1;
    o.readBack.standbyFirst = true;
    o.readBack.resendAfterMs = 150;
    SimReceiver sim(o);
    ProgramSide pc(sim.DevicePath());

    pc.Command(kCodeStandBy);
    EXPECT_TRUE(pc.Quiet(Ms(100)));
    pc.Command(kCodeStandBy);
    EXPECT_EQ(pc.NextCode(), kCodeStandBy);
    pc.Command(kCodeStandBy);
    EXPECT_EQ(pc.NextCode(), kCodeReadBackReady);
    auto first = pc.Next();
    ASSERT_TRUE(first);
    // Unanswered, the frame comes again by itself.
    auto resent = pc.Next(Ms(1000));
    ASSERT_TRUE(resent);
    EXPECT_EQ(resent->payload, first->payload);

    // A read-back the receiver starts on its own.
    SimReceiver pushing;
    ProgramSide pc2(pushing.DevicePath());
    pushing.StartReadBack();
    EXPECT_EQ(pc2.NextCode(), kCodeReadBackReady);
    const Served s = ReceiveReadBack(pc2);
    EXPECT_EQ(s.image, pushing.ReadBackImage());
    EXPECT_EQ(pushing.ReadBacks().back().requestCode, 0);
}

}  // namespace
}  // namespace tarven::sim
