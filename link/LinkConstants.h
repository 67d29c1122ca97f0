// The numbers of the receiver protocol and of the link runs, in one place.
// Every other file names these constants instead of repeating the numbers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tarven {

// ---------------------------------------------------------------- frames
// Every frame in both directions starts with these 8 bytes, unterminated.
inline constexpr std::array<std::uint8_t, 8> kFrameMagic = {'T', 'r', 'i', 's', 'K', 'e', 'L', 'a'};
inline constexpr int kCommandFrameSize = 12;
inline constexpr int kFrameHeaderSize = 12;
inline constexpr int kCrcSize = 4;
inline constexpr int kDataFrameOverhead = kFrameHeaderSize + kCrcSize;
// The length field is 16 bits and counts the CRC trailer too.
inline constexpr int kMaxPayload = 0xFFFF - kCrcSize;

// ---------------------------------------------------------------- link codes
// Code 4 means "I am standing by" from the receiver (answer to the preamble,
// "busy, listen again" in a version query, "say your request again" in a
// read-back); the PC also uses it as the read-back request of the software kinds.
enum LinkCode : std::uint16_t {
    kCodeAck = 0,     // acknowledge / block acknowledged
    kCodeRepeat = 1,  // resend the last frame
    kCodeAbort = 2,   // PC gives up an upload
    kCodeStandBy = 4,
    kCodeVersionRequest = 16,
    kCodeVersionEnd = 17,
    kCodeUploadPreamble = 18,  // PC, before the start code of kinds 11990..11994
    kCodeReadBackReady = 18,   // receiver, leaves the read-back request phase
    kCodeEndOfImage = 19,      // PC ends an upload; receiver ends a read-back
    kCodeVersionEndAlt = 23,
    kCodeEndOfImageAlt = 35,
    kCodeChipStart = 36,
    kCodeUploadDone = 37,
    kCodeDataMarker = 48,  // bytes 8..9 of every data frame; never a command
    kCodeSpeedChange = 64,
};

// Local results of ReceiveFrame; they never travel on the line.
enum ReceiveResult : int {
    kRecvDataFrame = kCodeDataMarker,
    kRecvNoMemory = -1,
    kRecvBadCrc = -2,
    kRecvShortFrame = -3,
    kRecvTimeout = -4,
    kRecvBadMagic = -5,
    // A good data frame whose payload is larger than the caller's destination:
    // it was read and checked whole, nothing was copied.
    kRecvTooLarge = -6,
};

// ---------------------------------------------------------------- line
inline constexpr std::uint32_t kBaudNormal = 115200;
inline constexpr std::uint32_t kBaudSlow = 57600;
inline constexpr int kPortCount = 6;
// Receive time-outs count units of 100 ms of idle line.
inline constexpr int kTimeoutUnitMs = 100;
// A wait that nothing but its time-out can end (no wake event, a device
// gone) runs in slices of at most this, so a stop is seen at once.
inline constexpr int kWaitSliceMs = 10;
// Longest single wait for the line even with a wake event: how late a
// device that vanished without a word is noticed.
inline constexpr int kGoneCheckMs = 250;
inline constexpr int kWriteWaitMs = 5000;
// Longest wait for the driver to put queued output on the wire: the largest
// frame takes about 0.72 s at the slow speed; an adapter that needs far more
// is stuck, and a purge or speed change goes ahead regardless.
inline constexpr int kOutputDrainWaitMs = 2000;

// ---------------------------------------------------------------- run results
// What a finished transfer reports; the window's closing messages follow it.
inline constexpr int kResultFailure = 0;
inline constexpr int kResultSuccess = 1;
inline constexpr int kResultLengthMismatch = 2;

// ---------------------------------------------------------------- run modes, kinds, levels
// What one run of the worker does.
enum class LinkMode : std::uint8_t { VersionQuery = 1, Upload = 2, ReadBack = 3 };

// An image kind is the id of its radio button in the main window; everything
// else about a kind is in KindTable.h.
enum class ImageKind : std::int32_t {
    FactoryData = 11990,
    UserData = 11991,
    Software = 11992,
    FullImage = 11993,
    SoftwareDataLoader = 11994,
    Chip = 11995,
    FullX = 11996,
};
inline constexpr int kKindCount = 7;
constexpr std::int32_t KindId(ImageKind kind) { return static_cast<std::int32_t>(kind); }
constexpr int KindIndex(ImageKind kind) { return KindId(kind) - KindId(ImageKind::FactoryData); }
// Whether `kind` is one of the table's: a kind made from a number may not be.
constexpr bool KnownKind(ImageKind kind) { return KindIndex(kind) >= 0 && KindIndex(kind) < kKindCount; }

// What a service password grants; the upload's start codes and the read-back
// button follow it.
enum class AccessLevel : std::int32_t {
    Standard = 0,  // no password, or "RAPXMU"
    Service = 1,   // "KOLWE"
    Full = 2,      // "TREVSAN"
};

// The kind ids as plain ints, for the simulator and the tests that script
// it, which hold a kind as its radio-button id.
inline constexpr std::int32_t KindFactoryData = KindId(ImageKind::FactoryData);
inline constexpr std::int32_t KindUserData = KindId(ImageKind::UserData);
inline constexpr std::int32_t KindSoftware = KindId(ImageKind::Software);
inline constexpr std::int32_t KindFullImage = KindId(ImageKind::FullImage);
inline constexpr std::int32_t KindSoftwareDataLoader = KindId(ImageKind::SoftwareDataLoader);
inline constexpr std::int32_t KindChip = KindId(ImageKind::Chip);
inline constexpr std::int32_t KindFullX = KindId(ImageKind::FullX);

// ---------------------------------------------------------------- version query
inline constexpr int kVersionBufferSize = 6144;
inline constexpr int kVersionBlockSize = 100;
inline constexpr int kVersionHardwareOffset = 32;
inline constexpr int kVersionSoftwareOffset = 64;
inline constexpr int kVersionRecvTimeout = 20;    // 2 s of silence
inline constexpr int kVersionBusyPauseMs = 7000;  // after the receiver's 4
inline constexpr int kVersionBadFramePauseMs = 1000;
inline constexpr int kVersionTotal = 100;
inline constexpr int kVersionRequested = 50;

// ---------------------------------------------------------------- upload
inline constexpr int kUploadBufferSize = 2097152;
inline constexpr int kBlockSize = 4096;
inline constexpr int kLengthHeaderSize = 4;
inline constexpr int kFirstBlockSize = kLengthHeaderSize + kBlockSize;
inline constexpr int kPreambleTimeout = 5000;  // 500 s of silence
inline constexpr int kUploadRecvTimeout = 30;  // 3 s of silence
inline constexpr int kStartCodePauseMs = 500;
inline constexpr int kBlockPauseMs = 1;
inline constexpr int kSpeedChangePauseMs = 1000;
inline constexpr int kEndCodeSendsMax = 4;
inline constexpr int kStrayListenMinUnits = 2;  // 200 ms: listening for a reply after the end

// ---------------------------------------------------------------- read-back
inline constexpr int kReadBackBufferSize = 2621440;
inline constexpr int kReadBackBufferOffset = 512;    // left empty at the buffer's start
inline constexpr int kReadBackRequestTimeout = 500;  // 50 s of silence
inline constexpr int kReadBackDataTimeout = 8;       // 800 ms of silence
inline constexpr int kReadBackStartPauseMs = 200;
inline constexpr int kReadBackAckPauseMs = 100;
inline constexpr int kReadBackShortFramesBeforeSlowdown = 6;
inline constexpr int kReadBackRepeatPauseMs = 10;  // after a purge, before answering
inline constexpr int kReadBackBadCrcPauseMs = 100;
inline constexpr int kReadBackShortFramePauseMs = 5;
inline constexpr int kReadBackSlowdownPauseMs = 500;   // after asking for the speed change
inline constexpr int kReadBackConfusedPauseMs = 1000;  // silence or an unexpected result
inline constexpr int kReadBackEndPauseMs = 10;

// Whether a finished upload's result 1 can be trusted. The protocol numbers no
// blocks, so some exchanges leave the receiver's copy in doubt: only reading
// the image back settles it.
enum class UploadDoubt : std::uint8_t {
    None,            // every block and the end code acknowledged in turn
    AckAfterRepeat,  // an acknowledgement came after the PC had asked for a repeat:
                     // it may answer the block before, putting the count one block ahead
    EndUnanswered,   // the end code went unanswered four times
    BlockResent,     // the receiver asked for a block again (1 or 64): an acknowledgement
                     // altered on the line reads the same, and the block is then stored twice
    StrayReply,      // a reply came after the end was answered: one answer the PC took
                     // was a repeat of an earlier one, so it counted blocks one ahead
};

}  // namespace tarven
