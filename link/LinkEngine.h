// The one live link run: its line settings, open port, worker and buffers,
// the frame operations on the port, and the three exchanges with the receiver.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "LinkClock.h"
#include "LinkConstants.h"
#include "LinkNotifier.h"
#include "LinkSession.h"
#include "PortSettings.h"
#include "SerialPort.h"
#include "WakeEvent.h"

namespace tarven {

// Every frame the engine writes or takes off the line, for --trace.
class FrameTracer {
public:
    virtual ~FrameTracer() = default;
    virtual void Sent(const std::uint8_t* frame, std::size_t size) = 0;
    // result: as ReceiveFrame returns it; payloadLength for data frames.
    virtual void Received(int result, std::uint32_t payloadLength) = 0;
};

// One English sentence saying why, for tarven-link's standard error; empty for None.
const char* UploadDoubtText(UploadDoubt doubt);

class LinkEngine {
public:
    // The one way to build an engine: from a run's request, on `clock`, over
    // `port` (may be null: valid, the version query then searches for one).
    // Tests and tools bring their own port (a fake, a device path).
    LinkEngine(const RunRequest& request, LinkClock& clock, PortHandle port, FrameTracer* tracer = nullptr);
    // Teardown: closes the port and the events, closes an image file still
    // open (what a cut-off read-back received stays on disk).
    ~LinkEngine();
    LinkEngine(const LinkEngine&) = delete;
    LinkEngine& operator=(const LinkEngine&) = delete;

    // ------------------------------------------------ what the request fixed
    const LinkMode mode;
    const std::string fileName;
    const std::int32_t imageKind;  // a kind id, 11990..11996
    const AccessLevel accessLevel;
    const std::int32_t sendingFlag;  // 1 for an upload: the status line says "Sending"
    FrameTracer* const tracer;       // not owned; may be null

    // ------------------------------------------------ what the worker finds out
    LinkNotifier* notifyWindow = nullptr;  // set by the worker entry
    PortSettings settings;  // the speed may drop, the version query may move to another port
    PortHandle port;
    std::vector<std::uint8_t> versionBuffer;  // kVersionBufferSize bytes
    // Written by the upload's worker before its finishing event is posted; read
    // alongside a result 1. The first doubt of a run is kept.
    std::atomic<UploadDoubt> uploadDoubt{UploadDoubt::None};

    // 1 when the wake events exist, else 0 (after the message box).
    int CreateEvents();

    // ------------------------------------------------ port operations (worker thread)
    // Gathers up to `wanted` bytes; stops after `timeout` x 100 ms of idle line
    // in all, or at once when timeout <= 0. Returns the count gathered.
    int ReadPort(std::uint8_t* destination, std::int32_t wanted, std::int32_t timeout);
    // Writes all bytes, waiting at most 5 s for the driver; always returns 1.
    int WritePort(const std::uint8_t* source, std::int32_t count);
    // Discards pending input and output, once what was written is on the wire.
    void PurgePort();
    // Stores the speed in the settings copy and applies it to an open port. Returns 0.
    int SetBaudRate(std::uint32_t baud);

    // ------------------------------------------------ frames (worker thread)
    int SendCommand(std::uint16_t code);
    // 0, or -1 (nothing written) when the frame cannot be built.
    std::int32_t SendDataFrame(const std::uint8_t* payload, std::int32_t length);
    // A command code, kRecvDataFrame (payload copied to `destination` when it
    // has room), or a local result. A null destination drops the payload.
    std::int32_t ReceiveFrame(std::span<std::uint8_t> destination, std::uint32_t* payloadLength,
                              std::int32_t timeout);

    // ------------------------------------------------ the exchanges (worker bodies)
    void RunVersionQuery();
    void RunUpload();
    void RunReadBack();

    // Waits, stop-aware and at most kOutputDrainWaitMs, until the driver has put
    // every byte written so far on the wire: a write returns once the bytes are
    // queued, and a purge or speed change would cut or garble the frame's tail.
    void DrainOutput();

    // WritePort's work: true when every byte went out.
    bool WriteFully(const std::uint8_t* source, std::int32_t count);

    // Pauses `ms` of link time; returns early when the worker is told to stop.
    void Pause(int ms);
    bool StopRequested() const { return stop_.stop_requested(); }
    // True while the last read (or a write) found the device gone: adapter
    // pulled, other side hung up. Any thread may ask; the run itself carries
    // on regardless, as the exchanges expect.
    bool DeviceGone() const { return deviceGone_.load(std::memory_order_relaxed); }

    // Worker plumbing.
    void AttachStop(std::stop_token token);
    const WakeEvent* Wake() const { return wake_.get(); }
    // The exchanges report in the design's numbers (WM_LINK_PROGRESS 6 and 5,
    // WM_LINK_EVENT 1 and 7); this is the one place they become typed events.
    void Post(unsigned message, std::intptr_t wParam, std::intptr_t lParam);
    LinkClock& Clock() const { return clock_; }
    void ShowMessage(const std::string& text);
    // After a finishing event: nothing more to do until the worker is stopped.
    void IdleUntilStopped();

    // Real-time yield for loops that must not burn a core whatever the clock's speed.
    void YieldMs(int realMs);

    int imageFile = -1;  // the read-back's output file while it is open
    // Why a read-back ended short when the line was not to blame, for tools
    // that can say more than the window's texts: the errno of the output
    // file's failed create or write, and whether the image outgrew the buffer.
    // Written by the worker before its finishing event.
    int imageFileErrno = 0;
    bool imageTooLarge = false;

private:
    LinkClock& clock_;
    std::stop_token stop_;
    std::atomic<bool> deviceGone_{false};
    std::unique_ptr<WakeEvent> wake_;  // signalled when the worker must stop
    std::unique_ptr<std::stop_callback<std::function<void()>>> wakeOnStop_;
    std::vector<std::uint8_t> frameOut_;  // reused so a data frame costs no allocation
    std::vector<std::uint8_t> frameIn_;   // body of the frame being received
};

// The live run's engine, or null.
LinkEngine* LiveLinkEngine();

// Starts the worker of the live run; `window` receives its events (may be null).
// 1 when a worker runs, 0 when none could be started or no run is live.
int StartLinkWorker(LinkNotifier* window);
// Stops the live run's worker wherever it is and waits for it (about 20 ms at
// most). No worker: nothing.
void TerminateLinkWorker();
// True while the live run's worker is started and has not finished.
bool LinkWorkerRunning();

// The worker thread's body: stores the window, runs the mode's exchange.
void LinkWorkerEntry(std::stop_token stop, LinkEngine& engine, LinkNotifier* window);

}  // namespace tarven
