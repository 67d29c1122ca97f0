#include "Frames.h"

#include <algorithm>
#include <cstring>

namespace tarven {
namespace {

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : (c >> 1);
        table[n] = c;
    }
    return table;
}
constexpr auto kCrcTable = MakeCrcTable();

}  // namespace

std::uint32_t Crc32(const std::uint8_t* bytes, std::int32_t length) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::int32_t i = 0; i < length; ++i) crc = (crc >> 8) ^ kCrcTable[(crc ^ bytes[i]) & 0xFF];
    return crc ^ 0xFFFFFFFFu;
}

std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
    return Crc32(bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

CommandFrame EncodeCommandFrame(std::uint16_t code) {
    CommandFrame frame{};
    std::copy(kFrameMagic.begin(), kFrameMagic.end(), frame.begin());
    frame[8] = std::uint8_t(code >> 8);
    frame[9] = std::uint8_t(code & 0xFF);
    return frame;
}

bool EncodeDataFrame(std::span<const std::uint8_t> payload, std::vector<std::uint8_t>& out) {
    if (payload.size() > std::size_t(kMaxPayload)) return false;
    const std::size_t n = payload.size();
    out.resize(n + kDataFrameOverhead);
    std::copy(kFrameMagic.begin(), kFrameMagic.end(), out.begin());
    out[8] = 0x00;
    out[9] = kCodeDataMarker;
    out[10] = std::uint8_t(((n + kCrcSize) >> 8) & 0xFF);
    out[11] = std::uint8_t((n + kCrcSize) & 0xFF);
    if (n) std::memcpy(out.data() + kFrameHeaderSize, payload.data(), n);
    WriteBigEndian32(out.data() + kFrameHeaderSize + n, Crc32(payload));
    return true;
}

std::vector<std::uint8_t> DataFrame(std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> out;
    EncodeDataFrame(payload, out);
    return out;
}

FrameHeader DecodeFrameHeader(std::span<const std::uint8_t, kFrameHeaderSize> h) {
    FrameHeader header;
    if (!std::equal(kFrameMagic.begin(), kFrameMagic.end(), h.begin())) return header;
    header.code = std::uint16_t(h[8] << 8 | h[9]);
    header.kind = header.code == kCodeDataMarker ? FrameHeader::Kind::Data : FrameHeader::Kind::Command;
    if (header.kind == FrameHeader::Kind::Data) header.bodyLength = std::size_t(h[10] << 8 | h[11]);
    return header;
}

BodyCheck CheckDataBody(std::span<const std::uint8_t> body) {
    if (body.size() < std::size_t(kCrcSize)) return BodyCheck::Short;
    const std::size_t n = body.size() - kCrcSize;
    return ReadBigEndian32(body.data() + n) == Crc32(body.first(n)) ? BodyCheck::Good : BodyCheck::BadCrc;
}

void FrameParser::Feed(const std::uint8_t* bytes, std::size_t count) {
    if (start_ > 0 && start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    }
    buffer_.insert(buffer_.end(), bytes, bytes + count);
}

void FrameParser::Clear() {
    buffer_.clear();
    start_ = 0;
}

std::optional<ParsedFrame> FrameParser::Next() {
    if (Pending() < std::size_t(kFrameHeaderSize)) return std::nullopt;
    const std::uint8_t* h = buffer_.data() + start_;
    const FrameHeader header = DecodeFrameHeader(std::span<const std::uint8_t, kFrameHeaderSize>(h, kFrameHeaderSize));
    ParsedFrame frame;
    switch (header.kind) {
        case FrameHeader::Kind::BadMagic:
            frame.kind = ParsedFrame::Kind::BadMagic;
            start_ += kFrameHeaderSize;
            return frame;
        case FrameHeader::Kind::Command:
            frame.kind = ParsedFrame::Kind::Command;
            frame.code = header.code;
            start_ += kFrameHeaderSize;
            return frame;
        case FrameHeader::Kind::Data: break;
    }
    if (Pending() < kFrameHeaderSize + header.bodyLength) return std::nullopt;
    const std::span<const std::uint8_t> body(h + kFrameHeaderSize, header.bodyLength);
    start_ += kFrameHeaderSize + header.bodyLength;
    const BodyCheck check = CheckDataBody(body);
    if (check == BodyCheck::Short) {
        frame.kind = ParsedFrame::Kind::Short;
    } else {
        const std::size_t n = body.size() - kCrcSize;
        frame.payload.assign(body.begin(), body.begin() + std::ptrdiff_t(n));
        frame.crcReceived = ReadBigEndian32(body.data() + n);
        frame.crcComputed = Crc32(body.first(n));
        frame.kind = check == BodyCheck::Good ? ParsedFrame::Kind::Data : ParsedFrame::Kind::BadCrc;
    }
    if (start_ > (1u << 20)) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + std::ptrdiff_t(start_));
        start_ = 0;
    }
    return frame;
}

}  // namespace tarven
