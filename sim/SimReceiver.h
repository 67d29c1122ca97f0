// A simulated receiver on a pseudo-terminal: the far end of the serial line
// for tests, demos and manual trials of the updater.
// Thread ownership: callers on any thread; it starts and owns the line thread.
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
// Three parts, all run by one internal thread, the line thread: the line
// (SimLine: pacing, faults, recording), the receiver's protocol (SimProtocol:
// version, upload, read-back), and between them and the callers the shared
// records and options (SimShared, the only part behind a lock). Every
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
#include <string>
#include <vector>

#include "SimOptions.h"
#include "SimRecords.h"

namespace tarven {
class SerialPort;
}

namespace tarven::sim {

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
    int VersionAnswers() const;  // version answers acknowledged
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
