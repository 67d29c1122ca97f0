// A simulated receiver on a pseudo-terminal: the far end of the serial line
// for tests, demos and manual trials of the updater.
//
// The program under test opens DevicePath() exactly as it opens a real port
// (O_NOCTTY|O_NONBLOCK, flock, TIOCEXCL, termios). The simulator sits on the
// master side, reads what the program sends with the same frame parser the
// link uses, answers as a receiver does (version query, upload, read-back),
// and records every byte and frame in both directions with a timestamp.
//
// Typical test:
//
//     tarven::sim::SimReceiver sim;                       // starts at once
//     sim.SetReadBackImage(image);
//     ... point the program at sim.DevicePath() and run it ...
//     ASSERT_TRUE(sim.WaitForUpload(std::chrono::seconds(5)));
//     EXPECT_EQ(sim.Uploads().back().image, expected);
//
// Threading: one internal thread owns the line and the protocol state. Every
// public member may be called from any thread. Callbacks (the frame hook and
// the event callback) run on the internal thread; they may call any public
// member except the destructor and the Wait... family, which would wait for
// the very thread that runs them. Replacing a callback waits for a call of it
// that is in progress, so after SetFrameHook(nullptr) the old hook is idle.
//
// Durations in the options (pauses, silences, idle times) are link time, the
// clock of tarven::LinkTime(): real time unless a test speeds that clock up,
// in which case the simulator's pauses and line pacing speed up with the
// program's own waits.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarven {
class SerialPort;
}

namespace tarven::sim {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// ============================================================ options
// Block numbers count the data frames of one transfer from 1. A number of 0
// switches a fault off. Each fault at a block fires once per transfer.

struct VersionOptions {
    // Written zero-terminated at byte 32 (at most 31 characters kept) and at
    // byte 64 (at most 35 kept) of a 100-byte block, zero elsewhere.
    std::string hardware = "TRV-HW 2.1";
    std::string software = "TRV-SW 3.40";
    // When set, sent instead of the built block, whatever its length.
    std::optional<Bytes> block;
    // The block goes out over this many data frames of near-equal size, each
    // after the program acknowledged the one before; then the end code.
    int split = 1;
    std::uint16_t endCode = 17;  // 17, or 23
    bool endCodeOnly = false;    // no data frames, just the end code
    // Ignore this many requests before answering.
    int silentRequests = 0;
    // Answer the first request that is not ignored with 4 (busy) only.
    bool standbyFirst = false;
    // After that 4: -1 waits for the next request; 0 or more sends the answer
    // unprompted after this many milliseconds.
    int standbyAnswerAfterMs = -1;
};

struct UploadOptions {
    int silentPreambles = 0;      // leave this many preambles (18) unanswered
    int speedChangeAtBlock = 0;   // answer block n with 64 instead of taking it
    int repeatAtBlock = 0;        // answer block n with 1 instead of taking it
    int abortAtBlock = 0;         // answer block n with 2 and drop the upload
    int corruptReplyAtBlock = 0;  // take block n; its acknowledgement goes out with a broken magic
    int dropReplyAtBlock = 0;     // take block n; its acknowledgement is never sent
    bool answerDoneAtEnd = false; // answer the end code with 37 instead of 0
    int ignoreEndCodes = 0;       // leave this many end codes unanswered; negative: all of them
    // A slow receiver (a flash erase): block n is taken, then nothing goes out
    // for slowAckMs; what the program sends meanwhile is answered afterwards.
    int slowAckAtBlock = 0;
    int slowAckMs = 0;
};

struct ReadBackOptions {
    // With no image set (SetReadBackImage, LoadReadBackImage), a generated
    // pattern of this size is served.
    std::size_t defaultImageSize = 20000;
    std::uint16_t endCode = 19;      // 19, or 35
    int firstPayloadSize = 4100;     // length header + image bytes; 4 sends the header alone
    int sliceSize = 4096;            // payload of every later frame
    int shortFrameAtBlock = 0;       // block n goes out truncated (header announces the
    int shortFrameCount = 0;         //   whole body, half of it follows) this many times
    int corruptCrcAtBlock = 0;       // block n goes out once with a wrong CRC
    int repeatAfterBlock = 0;        // the acknowledgement of block n is answered with 1, once
    bool omitLastByte = false;       // announce L, send L - 1 bytes
    std::optional<std::uint32_t> announcedLength;  // announce this instead of the image's length
    int silentRequests = 0;          // ignore this many requests (32, 51, 4) first
    bool standbyFirst = false;       // answer the first request with 4 (the program asks again)
    // With no answer from the program for this long while sending, resend the
    // last frame: the program never asks again on its own. 0: never.
    int resendAfterMs = 3000;
    // Serve the image of the last upload that took its end code (as received,
    // even when short or wrong; empty when none did), as a receiver reads
    // back what it kept.
    bool serveLastUpload = false;
    // After the program asks for 57,600 baud (64): resend the last frame once
    // the program's line is at that speed, or after this long in any case.
    int speedChangeWaitMs = 2000;
};

struct LineOptions {
    // Bytes leave at the speed the program set (10 bits each), and bytes from
    // the program count as arriving at that speed: no answer goes out before
    // the frame it answers could have fully arrived.
    bool paced = false;
    // Seed of the random faults below, read when the simulator is created; the
    // same seed and traffic replay the same faults. A reply is anything the
    // built-in behaviour or the frame hook sends; direct sends are exempt.
    std::uint64_t seed = 1;
    double corruptInRate = 0;       // per byte from the program: one bit flipped
    double corruptOutRate = 0;      // per byte to the program: one bit flipped
    double dropReplyRate = 0;       // per reply: never sent
    double duplicateReplyRate = 0;  // per reply: sent twice
    double garbageRate = 0;         // per reply: preceded by 1..garbageMaxBytes random bytes
    int garbageMaxBytes = 32;
    // Faults that start at the n-th frame received (that frame included; 0: never).
    int pauseAfterFrames = 0;   // hold all output for pauseMs (answers go out late)
    int pauseMs = 0;
    int silentAfterFrames = 0;  // ignore the line and answer nothing for silentMs
    int silentMs = 0;
    int vanishAfterFrames = 0;  // the device disappears (the program sees a hang-up)
    // Bytes of an unfinished frame are dropped after this much quiet, so a
    // broken header does not leave the receiver out of step for good. Never
    // less than 20 ms of real time, whatever the speed of link time.
    int resyncIdleMs = 300;
};

struct SimOptions {
    VersionOptions version;
    UploadOptions upload;
    ReadBackOptions readBack;
    LineOptions line;
};

// ============================================================ records

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
    std::uint16_t code = 0;      // Command: its code; Data and BadCrc: 48
    Bytes payload;               // Data and BadCrc: the payload; Raw: the bytes
    std::uint32_t crc = 0;       // Data and BadCrc: the CRC the frame carries
    // From the program: when its last byte arrived (with pacing, when it could
    // have). To the program: when its last byte was written, or when it was
    // queued while `sent` is false.
    Clock::time_point time;
    std::uint32_t baud = 0;      // the program's line speed at `time`
    // To the program only:
    bool sent = false;           // every byte has been written
    bool dropped = false;        // never sent (a fault, silence, or the device vanished)
    bool corrupted = false;      // deliberately broken (magic or CRC)
    bool truncated = false;      // a short frame: the header announced more than followed
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
    bool preamble = false;          // 18 was answered with 4 before the start code
    std::int32_t kind = 0;          // image kind the start code stands for; 0 for 36 (two kinds share it)
    int accessLevel = -1;           // kinds 11993, 11994: 0, or 1 for levels 1 and 2; else -1
    std::uint32_t announcedLength = 0;
    Bytes image;                    // the image, cut to the announced length once complete
    std::size_t payloadBytes = 0;   // all accepted payload bytes, the length header included
    int blocks = 0;                 // accepted data frames
    int refusedFrames = 0;          // data frames answered with 1 for a bad CRC
    int endCodes = 0;               // end codes received
    bool complete = false;          // end code received and the announced length covered
    bool aborted = false;           // 2 from either side
    std::uint32_t imageCrc = 0;     // CRC-32 of `image` once complete
};

struct ReadBackRecord {
    std::uint16_t requestCode = 0;  // 32, 51 or 4; 0 when the receiver started it (StartReadBack)
    std::uint32_t announcedLength = 0;
    int framesSent = 0;             // data frames sent, repeats included
    int blocksAcknowledged = 0;
    std::size_t imageBytesSent = 0; // image bytes in acknowledged frames
    bool speedChangeRequested = false;
    bool endSent = false;
    bool finished = false;          // the program acknowledged the end code
};

struct SimEvent {
    enum class Type {
        VersionAnswered,   // the program acknowledged the version end code
        UploadStarted,
        UploadComplete,    // first end code of an upload; UploadRecord::complete tells if whole
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

// ============================================================ the receiver

class SimReceiver {
public:
    // Creates the pseudo-terminal and starts serving it. Throws
    // std::system_error when no pseudo-terminal can be had.
    explicit SimReceiver(SimOptions options = {});
    // Stops the thread and closes both sides; the program then sees a hang-up.
    ~SimReceiver();
    SimReceiver(const SimReceiver&) = delete;
    SimReceiver& operator=(const SimReceiver&) = delete;

    // ------------------------------------------------ the line
    // The path the program opens, /dev/pts/N. Stays valid until Vanish() or destruction.
    const std::string& DevicePath() const;
    // The speed the program last set on its side (115200, 57600, ...); 0 once vanished.
    std::uint32_t CurrentBaud() const;
    // Closes the master side at once: the device disappears and the program
    // sees a hang-up. There is no coming back.
    void Vanish();
    bool Vanished() const;
    // Holds all output for `ms` (answers queue up and go out afterwards).
    void Pause(int ms);
    // Ignores the line and sends nothing for `ms`; queued output is dropped.
    void GoSilent(int ms);

    // ------------------------------------------------ configuration
    SimOptions Options() const;
    void SetOptions(const SimOptions& options);
    // Changes the options in place: sim.UpdateOptions([](SimOptions& o) { o.upload.abortAtBlock = 2; });
    void UpdateOptions(const std::function<void(SimOptions&)>& change);
    void SetReadBackImage(Bytes image);
    // Loads the read-back image from a file; false when it cannot be read.
    bool LoadReadBackImage(const std::string& path);
    Bytes ReadBackImage() const;
    void SetFrameHook(FrameHook hook);
    void SetEventCallback(EventCallback callback);

    // ------------------------------------------------ direct output
    // Queued behind any output in progress; exempt from the random reply faults.
    void SendCommand(std::uint16_t code);
    void SendData(Bytes payload);
    void SendRaw(Bytes bytes);
    // Starts a read-back unprompted, as a receiver does when its own menu
    // starts one: sends 18 and the first data frame.
    void StartReadBack();

    // ------------------------------------------------ records (snapshots)
    // Both directions in order of recording; a frame to the program is
    // recorded when it is queued and completed when its last byte is written.
    std::vector<FrameRecord> Frames() const;
    std::vector<FrameRecord> ReceivedFrames() const;  // from the program
    std::vector<FrameRecord> SentFrames() const;      // to the program, dropped ones included
    std::vector<ByteChunk> ByteLog() const;           // every read and write, in order
    Bytes ReceivedBytes() const;                      // all bytes from the program
    Bytes SentBytes() const;                          // all bytes written to the program
    std::vector<UploadRecord> Uploads() const;        // the one in progress included
    std::vector<ReadBackRecord> ReadBacks() const;
    std::vector<SimEvent> Events() const;
    int VersionAnswers() const;                       // version answers acknowledged
    // Codes of the received command frames, in order.
    std::vector<std::uint16_t> ReceivedCodes() const;
    // Forgets every record above (not the protocol state).
    void ClearRecords();

    // ------------------------------------------------ waiting
    // Each returns true as soon as its condition holds, false after `timeout`.
    // `predicate` is called on the caller's thread whenever a record changes
    // and may use the accessors above.
    bool WaitFor(const std::function<bool()>& predicate, std::chrono::milliseconds timeout);
    bool WaitForFrames(std::size_t receivedCount, std::chrono::milliseconds timeout);
    bool WaitForCode(std::uint16_t code, std::chrono::milliseconds timeout, std::size_t occurrences = 1);
    bool WaitForUpload(std::chrono::milliseconds timeout);  // an upload's end code arrived
    bool WaitForEvent(SimEvent::Type type, std::chrono::milliseconds timeout);
    // Until everything queued has been written (or dropped).
    bool WaitUntilSent(std::chrono::milliseconds timeout);
    // Until everything queued has been written and the program has read it
    // (or purged it) from its side of the line.
    bool WaitUntilDelivered(std::chrono::milliseconds timeout);
    // Bytes written to the line that the program has not read yet.
    std::size_t UnreadByProgram() const;

    // The simulator's side of the line, through the same port interface the
    // program uses. Look, don't touch: the internal thread owns its I/O.
    SerialPort& MasterPort();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Which image kind an upload start code stands for, and at which access level
// when it tells (54 and 53 are used at levels 1 and 2). kind 0: not a start code,
// or 36, which two kinds share.
struct StartCodeMeaning {
    std::int32_t kind = 0;
    int accessLevel = -1;
    bool isStartCode = false;
};
StartCodeMeaning MeaningOfStartCode(std::uint16_t code);

// The 100-byte version block with the two texts at their offsets.
Bytes MakeVersionBlock(const std::string& hardware, const std::string& software);

}  // namespace tarven::sim
