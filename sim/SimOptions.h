// The simulated receiver's options: what it answers, which faults it plays,
// and how its line behaves. Plain values with no thread of their own.
// Thread ownership: none; a copy is owned by whoever holds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarven::sim {

using Bytes = std::vector<std::uint8_t>;

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
    int silentPreambles = 0;       // leave this many preambles (18) unanswered
    int speedChangeAtBlock = 0;    // answer block n with 64 instead of taking it
    int repeatAtBlock = 0;         // answer block n with 1 instead of taking it
    int abortAtBlock = 0;          // answer block n with 2 and drop the upload
    int corruptReplyAtBlock = 0;   // take block n; its acknowledgement goes out with a broken magic
    int dropReplyAtBlock = 0;      // take block n; its acknowledgement is never sent
    bool answerDoneAtEnd = false;  // answer the end code with 37 instead of 0
    int ignoreEndCodes = 0;        // leave this many end codes unanswered; negative: all of them
    // A slow receiver (a flash erase): block n is taken, then nothing goes out
    // for slowAckMs; what the program sends meanwhile is answered afterwards.
    int slowAckAtBlock = 0;
    int slowAckMs = 0;
};

struct ReadBackOptions {
    // With no image set (SetReadBackImage, LoadReadBackImage), a generated
    // pattern of this size is served.
    std::size_t defaultImageSize = 20000;
    std::uint16_t endCode = 19;                    // 19, or 35
    int firstPayloadSize = 4100;                   // length header + image bytes; 4 sends the header alone
    int sliceSize = 4096;                          // payload of every later frame
    int shortFrameAtBlock = 0;                     // block n goes out truncated (header announces the
    int shortFrameCount = 0;                       //   whole body, half of it follows) this many times
    int corruptCrcAtBlock = 0;                     // block n goes out once with a wrong CRC
    int repeatAfterBlock = 0;                      // the acknowledgement of block n is answered with 1, once
    bool omitLastByte = false;                     // announce L, send L - 1 bytes
    std::optional<std::uint32_t> announcedLength;  // announce this instead of the image's length
    int silentRequests = 0;                        // ignore this many requests (32, 51, 4) first
    bool standbyFirst = false;                     // answer the first request with 4 (the program asks again)
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
    int pauseAfterFrames = 0;  // hold all output for pauseMs (answers go out late)
    int pauseMs = 0;
    int silentAfterFrames = 0;  // ignore the line and answer nothing for silentMs
    int silentMs = 0;
    int vanishAfterFrames = 0;  // the device disappears (the program sees a hang-up)
    // Bytes of an unfinished frame are dropped after this much quiet, so a
    // broken header does not leave the receiver out of step for good. Never
    // less than 20 ms of real time, whatever the speed of link time.
    int resyncIdleMs = 300;
    // Bytes to the program pass a USB adapter with this latency timer (real
    // milliseconds, as the adapter's setting; 0: a plain serial port).
    int adapterLatencyMs = 0;
};

struct SimOptions {
    VersionOptions version;
    UploadOptions upload;
    ReadBackOptions readBack;
    LineOptions line;
};

}  // namespace tarven::sim
