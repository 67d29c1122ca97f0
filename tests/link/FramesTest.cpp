#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "Frames.h"
#include "LinkEngine.h"
#include "RunHarness.h"
#include "ScriptedPort.h"

namespace tarven::test {
namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> list) {
    std::vector<std::uint8_t> v;
    for (int b : list) v.push_back(std::uint8_t(b));
    return v;
}

std::vector<std::uint8_t> Magic() { return {kFrameMagic.begin(), kFrameMagic.end()}; }

std::vector<std::uint8_t> Concat(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(Crc32, MatchesTheCheckValueAndZlib) {
    const std::string check = "123456789";
    EXPECT_EQ(Crc32(reinterpret_cast<const std::uint8_t*>(check.data()), 9), 0xCBF43926u);
    EXPECT_EQ(Crc32(nullptr, 0), 0u);

    std::mt19937 random(7);
    for (int size : {1, 3, 255, 4096, 4100, 65531}) {
        std::vector<std::uint8_t> data(static_cast<std::size_t>(size), 0);
        for (auto& b : data) b = std::uint8_t(random());
        EXPECT_EQ(Crc32(data), std::uint32_t(crc32(0, data.data(), uInt(data.size())))) << size;
    }
}

TEST(CommandFrameEncoding, IsMagicCodeBigEndianAndTwoZeros) {
    const CommandFrame request = EncodeCommandFrame(16);
    EXPECT_EQ(std::vector<std::uint8_t>(request.begin(), request.end()), Concat(Magic(), Bytes({0x00, 0x10, 0, 0})));
    const CommandFrame big = EncodeCommandFrame(300);
    EXPECT_EQ(big[8], 0x01);
    EXPECT_EQ(big[9], 0x2C);
}

TEST(DataFrameEncoding, CarriesLengthPayloadAndCrcBigEndian) {
    std::vector<std::uint8_t> payload(4100);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = std::uint8_t(i * 7);
    const auto frame = DataFrame(payload);
    ASSERT_EQ(frame.size(), 4116u);
    EXPECT_TRUE(std::equal(kFrameMagic.begin(), kFrameMagic.end(), frame.begin()));
    EXPECT_EQ(frame[8], 0x00);
    EXPECT_EQ(frame[9], 0x30);
    EXPECT_EQ(frame[10], 0x10);
    EXPECT_EQ(frame[11], 0x08);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), frame.begin() + 12));
    EXPECT_EQ(ReadBigEndian32(frame.data() + 4112), Crc32(payload));

    const auto empty = DataFrame({});
    EXPECT_EQ(empty, Concat(Magic(), Bytes({0x00, 0x30, 0x00, 0x04, 0, 0, 0, 0})));

    std::vector<std::uint8_t> out;
    EXPECT_FALSE(EncodeDataFrame(std::vector<std::uint8_t>(kMaxPayload + 1), out));
    EXPECT_TRUE(out.empty());
}

TEST(SendOperations, WriteWholeFramesThroughThePort) {
    auto owned = std::make_unique<ScriptedPort>();
    ScriptedPort& port = *owned;
    LinkEngine engine(RunRequest{.mode = LinkMode::Upload}, LinkTime(), std::move(owned));
    EXPECT_EQ(engine.SendCommand(0xFFFF), 0);
    const std::vector<std::uint8_t> payload = {1, 2, 3};
    EXPECT_EQ(engine.SendDataFrame(payload.data(), 3), 0);
    EXPECT_EQ(engine.SendDataFrame(payload.data(), kMaxPayload + 1), -1);
    const auto written = port.Written();
    EXPECT_EQ(written, Concat(Concat(Magic(), Bytes({0xFF, 0xFF, 0, 0})), DataFrame(payload)));
}

// ---------------------------------------------------------------- ReceiveFrame on crafted input

struct Received {
    int result;
    std::uint32_t length;
    std::vector<std::uint8_t> payload;
    std::vector<std::uint8_t> left;  // what stayed queued after the call
};

Received Receive(const std::vector<std::uint8_t>& input, std::size_t room = 64, int timeout = 1) {
    LinkTime().SetSpeedUp(kFastClock);
    auto owned = std::make_unique<ScriptedPort>();
    ScriptedPort& port = *owned;
    port.Queue(input);
    LinkEngine engine(RunRequest{}, LinkTime(), std::move(owned));
    // Guard bytes after the destination catch any write past it.
    std::vector<std::uint8_t> buffer(room + 16, 0xEE);
    Received r{};
    r.length = 0xDEADBEEF;
    r.result = engine.ReceiveFrame(std::span<std::uint8_t>(buffer.data(), room), &r.length, timeout);
    for (std::size_t i = room; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xEE) << "written past the destination";
    if (r.result == kRecvDataFrame) r.payload.assign(buffer.begin(), buffer.begin() + r.length);
    std::uint8_t rest[256];
    const int n = port.ReadQueued(rest, sizeof rest);
    r.left.assign(rest, rest + n);
    LinkTime().SetSpeedUp(1);
    return r;
}

std::vector<std::uint8_t> Header(int b8, int b9, int b10, int b11) {
    return Concat(Magic(), Bytes({b8, b9, b10, b11}));
}

TEST(ReceiveFrame, ReturnsCommandCodesWhateverBytesTenAndElevenHold) {
    EXPECT_EQ(Receive(Header(0x00, 0x11, 0, 0)).result, 17);
    EXPECT_EQ(Receive(Header(0x00, 0x11, 0xAB, 0xCD)).result, 17);
    EXPECT_EQ(Receive(Header(0xFF, 0xFF, 0, 0)).result, 65535);
}

TEST(ReceiveFrame, DeliversGoodDataFramesWhole) {
    const std::vector<std::uint8_t> payload = {9, 8, 7, 6, 5};
    const Received r = Receive(DataFrame(payload));
    EXPECT_EQ(r.result, kRecvDataFrame);
    EXPECT_EQ(r.length, 5u);
    EXPECT_EQ(r.payload, payload);

    const Received empty = Receive(DataFrame({}));
    EXPECT_EQ(empty.result, kRecvDataFrame);
    EXPECT_EQ(empty.length, 0u);
}

TEST(ReceiveFrame, FlagsEveryFlippedPayloadBitAsBadCrc) {
    const std::vector<std::uint8_t> payload = {0x00, 0xFF, 0x55};
    for (int bit = 0; bit < 24; ++bit) {
        auto frame = DataFrame(payload);
        frame[12 + bit / 8] ^= std::uint8_t(1 << (bit % 8));
        EXPECT_EQ(Receive(frame).result, kRecvBadCrc) << bit;
    }
}

TEST(ReceiveFrame, ReportsShortBodiesAndLengthFieldsBelowFour) {
    for (int length = 0; length < 4; ++length) {
        auto frame = Header(0x00, 0x30, 0, length);
        frame.resize(frame.size() + std::size_t(length), 0);
        EXPECT_EQ(Receive(frame).result, kRecvShortFrame) << "length field " << length;
        // The receiver's side and the traces read it the same way, and go on after it.
        FrameParser parser;
        parser.Feed(frame.data(), frame.size());
        const auto parsed = parser.Next();
        ASSERT_TRUE(parsed) << length;
        EXPECT_EQ(parsed->kind, ParsedFrame::Kind::Short) << "length field " << length;
        EXPECT_EQ(parser.Pending(), 0u) << length;
    }
    auto truncated = DataFrame(Bytes({1, 2, 3, 4, 5, 6}));
    truncated.pop_back();
    EXPECT_EQ(Receive(truncated).result, kRecvShortFrame);
}

TEST(ReceiveFrame, TimesOutOnAPartialHeaderAndDropsIt) {
    const Received r = Receive(Bytes({'T', 'r', 'i', 's'}));
    EXPECT_EQ(r.result, kRecvTimeout);
    EXPECT_TRUE(r.left.empty());
    EXPECT_EQ(Receive({}).result, kRecvTimeout);
    EXPECT_EQ(Receive(Header(0, 0x11, 0, 0), 64, 0).result, kRecvTimeout) << "a time-out value of 0 reads nothing";
}

TEST(ReceiveFrame, BadMagicConsumesExactlyTwelveBytes) {
    auto input = Header(0, 0x11, 0, 0);
    input[0] = 't';
    const auto next = Header(0x00, 0x17, 0, 0);
    const Received r = Receive(Concat(input, next));
    EXPECT_EQ(r.result, kRecvBadMagic);
    EXPECT_EQ(r.left, next);
}

TEST(ReceiveFrame, RefusesAPayloadLargerThanTheDestinationWithoutOverrun) {
    std::vector<std::uint8_t> payload(100, 0x42);
    const Received r = Receive(DataFrame(payload), 99);
    EXPECT_EQ(r.result, kRecvTooLarge);
    EXPECT_EQ(r.length, 100u);
    EXPECT_TRUE(r.left.empty()) << "the whole frame is consumed";
    EXPECT_EQ(Receive(DataFrame(payload), 100).result, kRecvDataFrame);
}

TEST(FrameParser, ReadsFramesAcrossArbitraryChunks) {
    auto noise = Header(1, 2, 3, 4);
    noise[3] = 'x';
    const auto stream = Concat(Concat(DataFrame(Bytes({1, 2, 3})), Header(0, 0x13, 0, 0)), noise);
    FrameParser parser;
    std::vector<ParsedFrame> frames;
    for (std::uint8_t b : stream) {
        parser.Feed(&b, 1);
        while (auto f = parser.Next()) frames.push_back(*f);
    }
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].kind, ParsedFrame::Kind::Data);
    EXPECT_EQ(frames[0].payload, Bytes({1, 2, 3}));
    EXPECT_EQ(frames[1].code, 19);
    EXPECT_EQ(frames[2].kind, ParsedFrame::Kind::BadMagic);
    EXPECT_EQ(parser.Pending(), 0u);
}

}  // namespace
}  // namespace tarven::test
