// The two frames of the receiver protocol and their CRC-32.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "LinkConstants.h"

namespace tarven {

// Standard reflected CRC-32 (Ethernet, ZIP) over the first `length` bytes.
std::uint32_t Crc32(const std::uint8_t* bytes, std::int32_t length);
std::uint32_t Crc32(std::span<const std::uint8_t> bytes);

// 12 bytes: magic, code big-endian, two zero bytes.
using CommandFrame = std::array<std::uint8_t, kCommandFrameSize>;
CommandFrame EncodeCommandFrame(std::uint16_t code);

// 16 + N bytes: magic, 0x00 0x30, N + 4 big-endian, payload, CRC-32 big-endian.
// `out` is resized to the frame's size. Payloads above kMaxPayload do not fit
// the length field and are refused (false, `out` untouched).
bool EncodeDataFrame(std::span<const std::uint8_t> payload, std::vector<std::uint8_t>& out);
std::vector<std::uint8_t> DataFrame(std::span<const std::uint8_t> payload);

inline std::uint32_t ReadBigEndian32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}
inline void WriteBigEndian32(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v >> 24);
    p[1] = std::uint8_t(v >> 16);
    p[2] = std::uint8_t(v >> 8);
    p[3] = std::uint8_t(v);
}

// What the 12 header bytes of a frame say, read as the PC reads them: the
// magic first, then the code; only a data frame's header has a body length.
struct FrameHeader {
    enum class Kind : std::uint8_t { BadMagic, Command, Data } kind = Kind::BadMagic;
    std::uint16_t code = 0;      // Command: its code
    std::size_t bodyLength = 0;  // Data: the bytes after the header, CRC included
};
FrameHeader DecodeFrameHeader(std::span<const std::uint8_t, kFrameHeaderSize> header);

// Whether a data frame's whole body holds a payload: a body shorter than the
// CRC trailer is a short frame, like one that did not arrive in full.
enum class BodyCheck : std::uint8_t { Good, Short, BadCrc };
BodyCheck CheckDataBody(std::span<const std::uint8_t> body);

// A frame taken off a byte stream by FrameParser.
struct ParsedFrame {
    // Short: a data frame whose body cannot even hold its CRC.
    enum class Kind { Command, Data, BadCrc, BadMagic, Short } kind = Kind::Command;
    std::uint16_t code = 0;             // Command: its code
    std::vector<std::uint8_t> payload;  // Data and BadCrc: the payload bytes
    std::uint32_t crcReceived = 0, crcComputed = 0;
};

// Incremental frame reader for the receiver's side and for traces: feed it
// bytes as they come, take whole frames out. It reads as the PC does: 12
// header bytes, no search for the magic; a bad magic consumes the 12 bytes.
class FrameParser {
public:
    void Feed(const std::uint8_t* bytes, std::size_t count);
    std::optional<ParsedFrame> Next();
    // Bytes of an incomplete frame held back (a header, or a body still arriving).
    std::size_t Pending() const { return buffer_.size() - start_; }
    void Clear();

private:
    std::vector<std::uint8_t> buffer_;
    std::size_t start_ = 0;
};

}  // namespace tarven
