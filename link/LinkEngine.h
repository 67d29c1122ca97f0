// The engine of one link run: its line settings, open port, worker plumbing,
// the frame operations on the port, and the three exchanges with the
// receiver. What an exchange finds out (the version block, an upload's doubt,
// a read-back's file) belongs to the exchange and leaves in its events.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "LinkClock.h"
#include "LinkConstants.h"
#include "LinkEvents.h"
#include "LinkNotifier.h"
#include "LinkRequest.h"
#include "PortMap.h"
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
    // `port` (may be null: valid, the version query then searches `ports`
    // for one). Tests and tools bring their own port (a fake, a device path).
    LinkEngine(const RunRequest& request, LinkClock& clock, PortHandle port, FrameTracer* tracer = nullptr,
               PortMap ports = PortMap::None());
    // Teardown: closes the port and the events.
    ~LinkEngine();
    LinkEngine(const LinkEngine&) = delete;
    LinkEngine& operator=(const LinkEngine&) = delete;

    // ------------------------------------------------ what the request fixed
    LinkMode Mode() const { return request_.mode; }
    const std::string& FileName() const { return request_.fileName; }
    ImageKind Kind() const { return request_.kind; }
    AccessLevel Level() const { return request_.level; }

    // ------------------------------------------------ the worker's body
    // Creates the wake events; false (after a message box to `listener`, or
    // to standard error without one) when the system refuses them.
    bool CreateEvents(LinkNotifier* listener);
    // Runs the mode's exchange on the calling thread, reporting to
    // `listener` (may be null), until it ends or `stop` is requested.
    void Run(std::stop_token stop, LinkNotifier* listener);

    // ------------------------------------------------ the port
    // The line's settings as they stand: the speed may drop during a run.
    const PortSettings& Settings() const { return settings_; }
    bool HasPort() const { return port_ != nullptr; }
    // The run's copy of the port mapping, where the version query searches.
    const PortMap& Ports() const { return ports_; }
    // The version query's search: the port it found, and the index (or the
    // name, beyond COM6) it stands for.
    void UsePort(PortHandle port, int portIndex, const std::string& portName = {});
    // The port, still open, for a next run on the same line; only once the worker has ended.
    PortHandle TakePort() { return std::move(port_); }

    // ------------------------------------------------ port operations (worker thread)
    // Gathers up to `wanted` bytes; stops after `timeout` x 100 ms of idle line
    // in all, or at once when timeout <= 0. Returns the count gathered.
    int ReadPort(std::uint8_t* destination, std::int32_t wanted, std::int32_t timeout);
    // Writes all bytes, waiting at most 5 s for the driver; always returns 1.
    int WritePort(const std::uint8_t* source, std::int32_t count);
    // WritePort's work: true when every byte went out.
    bool WriteFully(const std::uint8_t* source, std::int32_t count);
    // Link time at which the last byte written so far has left the line: an
    // answer cannot start before it, so the receiver's own delay counts from here.
    std::int64_t LineClearUs() const { return lineClearUs_; }
    // Discards pending input and output, once what was written is on the wire.
    void PurgePort();
    // Stores the speed in the settings and applies it to an open port. 0, or
    // -1 when the driver refused it (after a message box naming the port and
    // the speed): the line must not carry on at the old speed.
    int SetBaudRate(std::uint32_t baud);
    // Waits, stop-aware and at most kOutputDrainWaitMs, until the driver has put
    // every byte written so far on the wire: a write returns once the bytes are
    // queued, and a purge or speed change would cut or garble the frame's tail.
    void DrainOutput();

    // ------------------------------------------------ frames (worker thread)
    int SendCommand(std::uint16_t code);
    // 0, or -1 (nothing written) when the frame cannot be built.
    std::int32_t SendDataFrame(const std::uint8_t* payload, std::int32_t length);
    // A command code, kRecvDataFrame (payload copied to `destination` when it
    // has room), or a local result. A null destination drops the payload.
    std::int32_t ReceiveFrame(std::span<std::uint8_t> destination, std::uint32_t* payloadLength, std::int32_t timeout);

    // ------------------------------------------------ the exchanges (worker bodies)
    void RunVersionQuery();
    void RunUpload();
    void RunReadBack();

    // ------------------------------------------------ reporting and time (worker thread)
    // Hands `event` to whoever watches the run; nothing without a watcher.
    void Report(const LinkEvent& event);
    // The worker's own message box; returns once closed, or at a stop.
    void ShowMessage(const std::string& text);
    // Reports the transfer's end, then waits to be stopped: the run is over
    // once its watcher has seen the result.
    void FinishRun(const Finished& finished);
    // Pauses `ms` of link time; returns early when the worker is told to stop.
    void Pause(int ms);
    // Real-time yield for loops that must not burn a core whatever the clock's speed.
    void YieldMs(int realMs);
    bool StopRequested() const { return stop_.stop_requested(); }
    LinkClock& Clock() const { return clock_; }
    // True while the last read (or a write) found the device gone: adapter
    // pulled, other side hung up. Any thread may ask; the run itself carries
    // on regardless, as the exchanges expect.
    bool DeviceGone() const { return deviceGone_.load(std::memory_order_relaxed); }

private:
    void AttachStop(std::stop_token token);
    // How long one wait of the port may last, of realMs still to wait.
    int WaitMs(int realMs) const;
    void NoteLineClear(std::int64_t writeStartUs, int bytes);
    // When a read first found bytes, and how many it took.
    struct FlowWatch {
        std::chrono::steady_clock::time_point firstRead;
        int firstCount = 0;
    };
    // ReadPort's wait while `missing` bytes are still on their way and
    // `gathered` are in; the link time it took.
    std::int64_t AwaitFlow(const FlowWatch& flow, int gathered, int missing);
    void IdleUntilStopped();

    const RunRequest request_;
    FrameTracer* const tracer_;  // not owned; may be null
    LinkClock& clock_;
    PortSettings settings_;
    const PortMap ports_;
    PortHandle port_;
    LinkNotifier* listener_ = nullptr;  // set when the worker starts; not owned
    std::stop_token stop_;
    std::atomic<bool> deviceGone_{false};
    std::int64_t lineClearUs_ = 0;
    std::unique_ptr<WakeEvent> wake_;  // signalled when the worker must stop
    std::unique_ptr<std::stop_callback<std::function<void()>>> wakeOnStop_;
    std::vector<std::uint8_t> frameOut_;  // reused so a data frame costs no allocation
    std::vector<std::uint8_t> frameIn_;   // body of the frame being received
};

}  // namespace tarven
