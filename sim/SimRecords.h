// What the simulated receiver records of the line and of its exchanges, and
// the types its scripting hook and event callback see.
// Thread ownership: none; plain values, copied out of the receiver's records.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "SimOptions.h"

namespace tarven::sim {

using Clock = std::chrono::steady_clock;

enum class Direction { FromProgram, ToProgram };

enum class FrameKind {
    Command,   // a command frame; `code` holds its code
    Data,      // a data frame with a good CRC
    BadCrc,    // a data frame whose CRC does not match, or whose length field is below 4
    BadMagic,  // 12 bytes that do not start with the frame magic (consumed whole)
    Raw,       // bytes sent as they are (SendRaw, garbage bursts)
};

struct FrameRecord {
    std::uint64_t sequence = 0;  // unique, in order of recording
    Direction direction = Direction::FromProgram;
    FrameKind kind = FrameKind::Command;
    std::uint16_t code = 0;  // Command: its code; Data and BadCrc: 48
    Bytes payload;           // Data and BadCrc: the payload; Raw: the bytes
    std::uint32_t crc = 0;   // Data and BadCrc: the CRC the frame carries
    // From the program: when its last byte arrived (with pacing, when it could
    // have). To the program: when its last byte was written, or when it was
    // queued while `sent` is false.
    Clock::time_point time;
    std::uint32_t baud = 0;  // the program's line speed at `time`
    // To the program only:
    bool sent = false;       // every byte has been written
    bool dropped = false;    // never sent (a fault, silence, or the device vanished)
    bool corrupted = false;  // deliberately broken (magic or CRC)
    bool truncated = false;  // a short frame: the header announced more than followed
    bool CrcGood() const { return kind == FrameKind::Data; }
    bool IsCommand(std::uint16_t c) const { return kind == FrameKind::Command && code == c; }
};

// One read from, or one write to, the line.
struct ByteChunk {
    Direction direction = Direction::FromProgram;
    Clock::time_point time;
    Bytes bytes;  // as the receiver saw them (after injected corruption)
};

struct UploadRecord {
    std::uint16_t startCode = 0;
    bool preamble = false;  // 18 was answered with 4 before the start code
    std::int32_t kind = 0;  // image kind the start code stands for; 0 for 36 (two kinds share it)
    int accessLevel = -1;   // kinds 11993, 11994: 0, or 1 for levels 1 and 2; else -1
    std::uint32_t announcedLength = 0;
    Bytes image;                   // the image, cut to the announced length once complete
    std::size_t payloadBytes = 0;  // all accepted payload bytes, the length header included
    int blocks = 0;                // accepted data frames
    int refusedFrames = 0;         // data frames answered with 1 for a bad CRC
    int endCodes = 0;              // end codes received
    bool complete = false;         // end code received and the announced length covered
    bool aborted = false;          // 2 from either side
    std::uint32_t imageCrc = 0;    // CRC-32 of `image` once complete
};

struct ReadBackRecord {
    std::uint16_t requestCode = 0;  // 32, 51 or 4; 0 when the receiver started it (StartReadBack)
    std::uint32_t announcedLength = 0;
    int framesSent = 0;  // data frames sent, repeats included
    int blocksAcknowledged = 0;
    std::size_t imageBytesSent = 0;  // image bytes in acknowledged frames
    bool speedChangeRequested = false;
    bool endSent = false;
    bool finished = false;  // the program acknowledged the end code
};

struct SimEvent {
    enum class Type {
        VersionAnswered,  // the program acknowledged the version end code
        UploadStarted,
        UploadComplete,  // first end code of an upload; UploadRecord::complete tells if whole
        UploadAborted,
        ReadBackStarted,
        ReadBackFinished,  // the program acknowledged the read-back end code
        SpeedChange,       // 64 sent or received
        Anomaly,           // something a receiver would not expect (text says what)
        Vanished,
    };
    Type type = Type::Anomaly;
    std::string text;
    Clock::time_point time;
};

// ============================================================ scripting

// One unit of output for the frame hook.
struct Outgoing {
    enum class Kind { Command, Data, Raw } kind = Kind::Command;
    std::uint16_t code = 0;
    Bytes bytes;  // Data: the payload; Raw: the bytes as they go out
    static Outgoing Command(std::uint16_t code) { return {Kind::Command, code, {}}; }
    static Outgoing Data(Bytes payload) { return {Kind::Data, 0, std::move(payload)}; }
    static Outgoing Raw(Bytes bytes) { return {Kind::Raw, 0, std::move(bytes)}; }
};

// Sees each frame from the program before the built-in behaviour. Return
// std::nullopt to let the built-in behaviour handle it, an empty list to stay
// silent, or the output to send in its place. A frame the hook takes never
// reaches the built-in state machines.
using FrameHook = std::function<std::optional<std::vector<Outgoing>>(const FrameRecord& frame)>;
using EventCallback = std::function<void(const SimEvent& event)>;

}  // namespace tarven::sim
