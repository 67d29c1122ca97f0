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
    ParsedFrame frame;
    if (!std::equal(kFrameMagic.begin(), kFrameMagic.end(), h)) {
        frame.kind = ParsedFrame::Kind::BadMagic;
        start_ += kFrameHeaderSize;
        return frame;
    }
    const std::uint16_t code = std::uint16_t(h[8] << 8 | h[9]);
    if (code != kCodeDataMarker) {
        frame.kind = ParsedFrame::Kind::Command;
        frame.code = code;
        start_ += kFrameHeaderSize;
        return frame;
    }
    const std::size_t body = std::size_t(h[10] << 8 | h[11]);
    if (Pending() < kFrameHeaderSize + body) return std::nullopt;
    start_ += kFrameHeaderSize + body;
    if (body < std::size_t(kCrcSize)) {
        frame.kind = ParsedFrame::Kind::BadCrc;
        return frame;
    }
    const std::uint8_t* p = h + kFrameHeaderSize;
    const std::size_t n = body - kCrcSize;
    frame.payload.assign(p, p + n);
    frame.crcReceived = ReadBigEndian32(p + n);
    frame.crcComputed = Crc32(p, static_cast<std::int32_t>(n));
    frame.kind = frame.crcReceived == frame.crcComputed ? ParsedFrame::Kind::Data : ParsedFrame::Kind::BadCrc;
    if (start_ > (1u << 20)) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + std::ptrdiff_t(start_));
        start_ = 0;
    }
    return frame;
}

}  // namespace tarven
