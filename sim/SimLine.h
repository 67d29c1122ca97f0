// The simulated receiver's line: the master side of the pseudo-terminal,
// pacing at the program's speed, the injected line faults, and the recording
// of every byte and frame that crosses it.
// Thread ownership: the line thread alone, except the members marked "any thread".
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "AdapterLatency.h"
#include "Frames.h"
#include "PtyPort.h"
#include "SimShared.h"

namespace tarven::sim {

std::int64_t NowUs();
Clock::time_point TimePointOfUs(std::int64_t us);
// Link milliseconds (as the options give them) in real microseconds.
std::int64_t RealUsOfLinkMs(std::int64_t linkMs);

// The line thread's copy of the options: refreshed only when a caller changed
// them, so the per-byte paths take no lock.
class OptionsView {
public:
    explicit OptionsView(const SimShared& shared) : shared_(shared), options_(shared.Options()) {}
    const SimOptions& Get() {
        const std::uint64_t version = shared_.OptionsVersion();
        if (version != seen_) {
            seen_ = version;
            options_ = shared_.Options();
        }
        return options_;
    }

private:
    const SimShared& shared_;
    std::uint64_t seen_ = 0;
    SimOptions options_;
};

// How a frame of ours is to be mangled on purpose.
struct FrameFlags {
    bool corrupted = false;  // command: broken magic; data: broken CRC
    bool truncated = false;  // data: half the body left out
    bool dropped = false;    // recorded, never sent
};

// A reply is what the receiver's behaviour (or the hook) answers and is
// subject to the random reply faults; a direct send is not.
enum class Send { Reply, Direct };

// One unit of output as the line sends it.
struct LineFrame {
    FrameKind kind = FrameKind::Command;
    std::uint16_t code = 0;
    Bytes payload;
    Bytes wire;
    FrameFlags flags;
};

class SimLine {
public:
    // Opens the pseudo-terminal. Throws std::system_error.
    SimLine(SimShared& shared, OptionsView& options);
    ~SimLine();
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    // ------------------------------------------------ any thread
    const std::string& DevicePath() const { return devicePath_; }
    SerialPort& Port() { return *port_; }
    bool Vanished() const { return vanished_.load(); }
    std::uint32_t BaudFromAnyThread() const;
    std::size_t UnreadByProgram() const;
    void Wake() { wakeEvent_.Signal(); }

    // ------------------------------------------------ input
    void ReadInput(std::int64_t now);
    // The next frame whose last byte has arrived by `now`, recorded, with the
    // faults that start at the n-th frame played. Frames that go no further
    // (the device vanished, the line went silent) are swallowed here.
    struct Received {
        ParsedFrame frame;
        FrameRecord record;
    };
    std::optional<Received> NextFrame(std::int64_t now);
    // Drops an unfinished frame after a quiet spell; ends a silence that is over.
    void Resync(std::int64_t now);
    void EndSilence(std::int64_t now);

    // ------------------------------------------------ output
    void Queue(Send how, LineFrame frame);
    void QueueOutgoing(Send how, const Outgoing& item);
    // Writes what is due; returns when output next needs attention.
    std::int64_t Pump(std::int64_t now);
    bool OutputEmpty() const { return out_.empty(); }
    std::int64_t LineFreeUs() const { return lineFreeUs_; }
    // No answer leaves before this (the frame it answers has fully arrived).
    void AnswersNotBefore(std::int64_t us) { answersNotBeforeUs_ = us; }
    void PauseFor(int linkMs);              // holds output from now on
    void HoldOutputUntil(std::int64_t us);  // holds output at least until then
    void GoSilent(int linkMs);
    void Vanish();

    // ------------------------------------------------ the line thread's clock
    void After(std::int64_t realUs, std::function<void()> fn);
    void RunTimers(std::int64_t now);
    // Sleeps until something is due, input arrives, or Wake().
    void Sleep(std::int64_t outputWake);

    // ------------------------------------------------ events
    std::uint32_t Baud() const;  // the program's speed, 0 once vanished
    void Event(SimEvent::Type type, std::string text);
    void Anomaly(std::string text) { Event(SimEvent::Type::Anomaly, std::move(text)); }
    // Events since the last call, for the event callback once a frame is dealt with.
    std::vector<SimEvent> TakeEvents();

private:
    struct ArrivalSpan {
        std::uint64_t first;
        std::uint64_t count;
        std::int64_t startUs;
        std::int64_t byteUs;
    };
    struct PendingFrame {
        ParsedFrame frame;
        std::int64_t arrivalUs;
    };
    struct OutUnit {
        Bytes bytes;
        std::size_t pos = 0;
        std::int64_t notBeforeUs = 0;
        std::uint64_t record = 0;  // sequence of its FrameRecord, 0 for none
    };
    struct Timer {
        std::int64_t dueUs;
        std::function<void()> fn;
    };

    std::int64_t PumpLine(std::int64_t now, bool viaAdapter);
    std::int64_t ByteTimeUs() const;  // real time of one byte at the program's speed
    std::int64_t ArrivalOfByte(std::uint64_t index) const;
    void TakeFrames(bool paced, std::int64_t now);
    bool PlayFrameFaults(std::int64_t now);
    std::uint64_t RecordSent(const LineFrame& frame, std::int64_t now, bool dropped);
    void QueueUnit(Bytes wire, std::uint64_t record);
    int ReplyCopies(const LineOptions& line);
    void FinishSent(std::uint64_t sequence, std::int64_t now, bool dropped);
    void DropQueuedOutput(std::int64_t now);
    void ForgetInput();
    double Chance(std::mt19937_64& rng);
    void CorruptBytes(Bytes& bytes, double rate, std::mt19937_64& rng);

    SimShared& shared_;
    OptionsView& options_;
    std::unique_ptr<PtyMasterPort> port_;
    std::string devicePath_;
    // Written only by the line thread, under the lock; callers read it under
    // the lock, the line thread without.
    mutable std::mutex slaveMutex_;
    int keptSlave_ = -1;
    WakeEvent wakeEvent_;
    std::atomic<bool> vanished_{false};

    FrameParser parser_;
    std::uint64_t fedBytes_ = 0;
    std::deque<ArrivalSpan> arrivals_;  // paced: when each fed byte counts as arrived
    std::int64_t inLineFreeUs_ = 0;
    std::int64_t lastInputUs_ = 0;
    std::deque<PendingFrame> pendingFrames_;
    std::size_t framesReceived_ = 0;

    std::deque<OutUnit> out_;
    AdapterLatency adapter_;
    std::int64_t lineFreeUs_ = 0;
    std::int64_t pausedUntilUs_ = 0;
    std::int64_t silentUntilUs_ = 0;
    std::int64_t answersNotBeforeUs_ = 0;

    std::vector<Timer> timers_;
    std::vector<SimEvent> pendingEvents_;
    // Random faults: one source per stream so that timing never changes which bytes are hit.
    std::mt19937_64 rngIn_, rngOut_, rngReply_;
};

}  // namespace tarven::sim
