// Inside the simulated receiver: the line thread, its records and the
// receiver's state machines. Only SimReceiver*.cpp include this.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "Frames.h"
#include "PtyPort.h"
#include "SimReceiver.h"

namespace tarven::sim {

std::int64_t NowUs();
Clock::time_point TimePointOfUs(std::int64_t us);
// Link milliseconds (as the options give them) in real microseconds.
std::int64_t RealUsOfLinkMs(std::int64_t linkMs);

// How a frame of ours is to be mangled on purpose.
struct FrameFlags {
    bool corrupted = false;  // command: broken magic; data: broken CRC
    bool truncated = false;  // data: half the body left out
    bool dropped = false;    // recorded, never sent
};

struct SimReceiver::Impl {
    explicit Impl(SimOptions initial);
    ~Impl();

    // ================================================= shared with callers (under `mutex`)
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::uint64_t changeCount = 0;
    SimOptions options;
    Bytes readBackImage;
    bool readBackImageSet = false;
    // The callbacks are guarded by their own lock, held while they run, so that
    // replacing one waits for a call in progress. Recursive: a callback may
    // replace itself.
    std::recursive_mutex callbackMutex;
    FrameHook hook;
    EventCallback eventCallback;
    std::vector<std::function<void()>> posted;  // run on the line thread
    bool outputIdle = true;

    std::vector<FrameRecord> frames;
    std::vector<ByteChunk> byteLog;
    std::vector<UploadRecord> uploadsDone;
    std::optional<UploadRecord> uploadLatest;  // in progress, or the last one to end
    std::vector<ReadBackRecord> readBacksDone;
    std::optional<ReadBackRecord> readBackLatest;
    std::vector<SimEvent> events;
    int versionAnswers = 0;
    std::uint64_t nextSequence = 1;

    void NotifyLocked() {
        ++changeCount;
        changed.notify_all();
    }
    // Runs `fn` on the line thread.
    void Post(std::function<void()> fn);
    void Wake();

    // ================================================= the line (line thread, unless noted)
    std::unique_ptr<PtyMasterPort> port;
    std::string devicePath;
    mutable std::mutex slaveMutex;  // guards keptSlave against Vanish() while others read the speed
    int keptSlave = -1;
    WakeEvent wakeEvent;
    std::atomic<bool> vanished{false};
    std::jthread thread;

    void Run(std::stop_token stop);
    void RunPosted();
    void ReadInput(std::int64_t now);
    void ProcessDueFrames(std::int64_t now);
    void RunTimers(std::int64_t now);
    void Tick(std::int64_t now);
    std::int64_t PumpOutput(std::int64_t now);  // returns when output next needs attention
    std::int64_t NextWake(std::int64_t now, std::int64_t outputWake) const;
    std::uint32_t Baud() const;
    std::int64_t ByteTimeUs() const;  // real time of one byte at the program's speed
    void DoVanish();

    // Input side.
    FrameParser parser;
    std::uint64_t fedBytes = 0;
    struct ArrivalSpan {
        std::uint64_t first;
        std::uint64_t count;
        std::int64_t startUs;
        std::int64_t byteUs;
    };
    std::deque<ArrivalSpan> arrivals;  // paced: when each fed byte counts as arrived
    std::int64_t inLineFreeUs = 0;
    std::int64_t lastInputUs = 0;
    struct PendingFrame {
        ParsedFrame frame;
        std::int64_t arrivalUs;
    };
    std::deque<PendingFrame> pendingFrames;
    std::int64_t ArrivalOfByte(std::uint64_t index) const;

    // Output side.
    struct OutUnit {
        Bytes bytes;
        std::size_t pos = 0;
        std::int64_t notBeforeUs = 0;
        std::uint64_t record = 0;  // sequence of its FrameRecord, 0 for none
    };
    std::deque<OutUnit> out;
    std::int64_t lineFreeUs = 0;
    std::int64_t pausedUntilUs = 0;
    std::int64_t silentUntilUs = 0;
    std::int64_t currentFrameArrivalUs = 0;  // no answer leaves before this

    struct Timer {
        std::int64_t dueUs;
        std::function<void()> fn;
    };
    std::vector<Timer> timers;
    void After(std::int64_t realUs, std::function<void()> fn);

    // Random faults: one source per stream so that timing never changes which bytes are hit.
    std::mt19937_64 rngIn, rngOut, rngReply;
    double Chance(std::mt19937_64& rng);
    void CorruptBytes(std::uint8_t* bytes, std::size_t count, double rate, std::mt19937_64& rng);

    std::size_t framesReceived = 0;
    std::vector<SimEvent> pendingEvents;  // handed to the callback once the frame is dealt with

    // Records (take the lock themselves).
    std::uint64_t RecordFrame(FrameRecord record);
    void FinishSentRecord(std::uint64_t sequence, std::int64_t now, bool dropped);
    void RecordChunk(Direction direction, std::int64_t now, Bytes bytes);
    void Event(SimEvent::Type type, std::string text);
    void Anomaly(std::string text) { Event(SimEvent::Type::Anomaly, std::move(text)); }
    void FlushEvents();
    void SetOutputIdle(bool idle);
    SimOptions OptionsSnapshot() const;
    LineOptions LineSnapshot() const;  // cheaper, for the per-byte paths

    // Queueing output. A reply is what the receiver's behaviour (or the hook)
    // answers and is subject to the random reply faults; a direct send is not.
    enum class Send { Reply, Direct };
    void Queue(Send how, FrameKind kind, std::uint16_t code, Bytes payload, Bytes wire, FrameFlags flags = {});
    void QueueUnit(Bytes wire, std::uint64_t record);
    void ReplyCommand(std::uint16_t code, FrameFlags flags = {});
    void ReplyData(const Bytes& payload, FrameFlags flags = {});
    void QueueOutgoing(Send how, const Outgoing& item);
    void DropQueuedOutput(std::int64_t now);

    // ================================================= the receiver's behaviour (line thread)
    void HandleFrame(const ParsedFrame& frame, std::int64_t arrivalUs);
    void Dispatch(const ParsedFrame& frame);
    bool DispatchInPhase(const ParsedFrame& frame, const SimOptions& o);
    void DispatchIdle(std::uint16_t code, const SimOptions& o);

    enum class Phase { Idle, Version, UploadAwaitStart, UploadReceiving, ReadBack };
    Phase phase = Phase::Idle;
    // The last frame the behaviour sent, for the program's repeat request (1).
    Bytes lastReplyWire;
    FrameKind lastReplyKind = FrameKind::Command;
    std::uint16_t lastReplyCode = 0;
    Bytes lastReplyPayload;
    void ResendLastReply();
    void LeavePhase(const char* why);

    // Version query.
    int versionRequests = 0;
    bool versionStandbySent = false;
    std::vector<Bytes> versionChunks;
    std::size_t versionStep = 0;  // frame awaiting its acknowledgement; == chunks: the end code
    std::uint16_t versionEndCode = kCodeVersionEnd;
    void OnVersionRequest(const SimOptions& o);
    void StartVersionAnswer(const SimOptions& o);
    void OnVersionAck();

    // Upload.
    int preambles = 0;
    int uploadBlock = 0;  // number of the block expected next
    struct UploadFaultsFired {
        bool speed = false, repeat = false, abort = false, corrupt = false, drop = false, slow = false;
    } uploadFired;
    int endCodesIgnored = 0;
    bool uploadEnded = false;  // an upload took its end code: later end codes are answered again
    void OnPreamble(const SimOptions& o);
    void BeginUpload(std::uint16_t startCode, bool preamble);
    void OnUploadData(const ParsedFrame& frame, const SimOptions& o);
    void OnUploadEnd(const SimOptions& o);
    void OnUploadAbortedByProgram();
    void WithUpload(const std::function<void(UploadRecord&)>& fn);

    // Read-back.
    int readBackRequests = 0;
    bool readBackStandbySent = false;
    struct ReadBackState {
        Bytes image;
        std::uint32_t announced = 0;
        std::size_t sendLength = 0;  // image bytes that go out
        int frameCount = 0;
        int current = 0;             // block sent last
        bool endSent = false;
        int shortSent = 0;
        bool crcCorrupted = false;
        bool repeatAsked = false;
        bool awaitingSpeed = false;
        std::int64_t lastActivityUs = 0;
        ReadBackOptions o;
    } rb;
    void OnReadBackRequest(std::uint16_t code, const SimOptions& o);
    void BeginReadBack(std::uint16_t requestCode, const SimOptions& o);
    Bytes ReadBackPayload(int block) const;
    void SendReadBackBlock(int block);
    void OnReadBackAck();
    void OnReadBackRepeat();
    void OnReadBackSpeedChange();
    void ResendWhenSlow(std::int64_t deadlineUs);
    Bytes CurrentReadBackImage() const;  // takes the lock
    void WithReadBack(const std::function<void(ReadBackRecord&)>& fn);
};

}  // namespace tarven::sim
