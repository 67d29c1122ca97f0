#include "LinkEngine.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>
#include <utility>

#include "Frames.h"
#include "PortAccess.h"
#include "WorkerPriority.h"

namespace tarven {

namespace {

// A wait for bytes already flowing ends this much before they could all be in,
// is not worth making under the minimum, and never lasts longer than the maximum.
constexpr std::int64_t kFlowSlackUs = 1000;
constexpr int kFlowWaitMinMs = 2;
constexpr int kFlowWaitMaxMs = 1000;
// How long bytes must have been watched before their pace is judged.
constexpr std::int64_t kFlowJudgeUs = 2000;
// Bytes still to come for at least this long on the wire are worth sleeping
// for until their pace can be judged.
constexpr std::int64_t kFlowJudgeSleepMinUs = 50'000;

void SetWorkerPriority(LinkMode mode) {
    const bool keepsPace = mode == LinkMode::VersionQuery || mode == LinkMode::Upload;
    SetCurrentWorkerPriority(keepsPace ? WorkerPriority::Raised : WorkerPriority::Lowered);
}

}  // namespace

LinkEngine::LinkEngine(const RunRequest& request, LinkClock& clock, PortHandle p, FrameTracer* frameTracer,
                       PortMap ports)
    : request_(request),
      tracer_(frameTracer),
      clock_(clock),
      settings_(PortSettingsFor(request.portIndex, request.portName)),
      ports_(std::move(ports)),
      port_(std::move(p)) {}

LinkEngine::~LinkEngine() {
    ClosePort(port_);
    wakeOnStop_.reset();
    wake_.reset();
}

bool LinkEngine::CreateEvents(LinkNotifier* listener) {
    if (wake_) return true;
    auto wake = std::make_unique<WakeEvent>();
    if (wake->Valid()) {
        wake_ = std::move(wake);
        return true;
    }
    constexpr char kText[] = "Fails to create multi-thread for Kermit!";
    if (listener) listener->ShowMessageBox(kText, {});
    else std::fprintf(stderr, "%s\n", kText);
    return false;
}

void LinkEngine::Run(std::stop_token stop, LinkNotifier* listener) {
    listener_ = listener;
    AttachStop(stop);
    SetWorkerPriority(Mode());
    switch (Mode()) {
        case LinkMode::VersionQuery: RunVersionQuery(); break;
        case LinkMode::Upload: RunUpload(); break;
        default: RunReadBack(); break;
    }
}

void LinkEngine::AttachStop(std::stop_token token) {
    stop_ = token;
    WakeEvent* wake = wake_.get();
    if (!wake) return;
    // Wakes every wait of the worker at once, so a stop never waits out a slice.
    wakeOnStop_ = std::make_unique<std::stop_callback<std::function<void()>>>(
        stop_, std::function<void()>([wake] { wake->Signal(); }));
}

void LinkEngine::UsePort(PortHandle p, int portIndex, const std::string& portName) {
    port_ = std::move(p);
    settings_.portIndex = portIndex;
    settings_.portName = portName;
}

void LinkEngine::Report(const LinkEvent& event) {
    if (listener_) listener_->OnLinkEvent(event);
}

void LinkEngine::ShowMessage(const std::string& text) {
    if (listener_) listener_->ShowMessageBox(text, stop_);
    else std::fprintf(stderr, "%s\n", text.c_str());
}

void LinkEngine::FinishRun(const Finished& finished) {
    Report(finished);
    IdleUntilStopped();
}

void LinkEngine::YieldMs(int realMs) {
    if (realMs <= 0 || StopRequested()) return;
    if (wake_) wake_->Wait(realMs);
    else std::this_thread::sleep_for(std::chrono::milliseconds(realMs));
}

int LinkEngine::WaitMs(int realMs) const {
    // The port's wait ends at once for a byte, for room to write, or for the
    // wake event, so with that event one wait can take far longer than a
    // slice: every extra wake-up costs a server round trip under wine and a
    // timer tick on Windows. Still, the queue is looked at every so often, so
    // a driver that leaves a pulled adapter's read pending without a word is
    // found gone. A device that has gone reports ready forever, and without
    // the event only slices keep a stop prompt: those stay in slices.
    if (wake_ && !DeviceGone()) return std::min(kGoneCheckMs, realMs);
    return std::min(kWaitSliceMs, realMs);
}

void LinkEngine::Pause(int ms) {
    LinkClock& clock = clock_;
    const std::int64_t end = clock.NowUs() + std::int64_t(ms) * 1000;
    while (!StopRequested()) {
        const std::int64_t left = end - clock.NowUs();
        if (left <= 0) return;
        // The wake event ends a wait at once for a stop, so a pause is one
        // wait; without it, slices keep the stop prompt.
        const int realMs = clock.RealMs((left + 999) / 1000);
        YieldMs(wake_ ? realMs : std::min(kWaitSliceMs, realMs));
    }
}

void LinkEngine::IdleUntilStopped() {
    while (!StopRequested()) YieldMs(1000);
}

int LinkEngine::ReadPort(std::uint8_t* destination, std::int32_t wanted, std::int32_t timeout) {
    if (timeout <= 0 || wanted <= 0) return 0;
    LinkClock& clock = clock_;
    const std::int64_t budgetUs = std::int64_t(timeout) * kTimeoutUnitMs * 1000;
    std::int64_t idleUs = 0;
    std::int64_t flowWaitUs = 0;
    int gathered = 0;
    FlowWatch flow;
    while (gathered < wanted && !StopRequested()) {
        if (port_) {
            const int n = port_->ReadQueued(destination + gathered, wanted - gathered);
            deviceGone_.store(n == SerialPort::kGone, std::memory_order_relaxed);
            if (n > 0) {
                if (gathered == 0) flow = {std::chrono::steady_clock::now(), n};
                gathered += n;
                flowWaitUs = gathered < wanted ? AwaitFlow(flow, gathered, wanted - gathered) : 0;
                continue;
            }
        }
        // A wait for flowing bytes after which none had come was idle line after all.
        idleUs += std::exchange(flowWaitUs, 0);
        // Only time with nothing queued counts, and it adds up over the whole call.
        const std::int64_t leftUs = budgetUs - idleUs;
        const int slice = WaitMs(clock.RealMs((leftUs + 999) / 1000));
        const std::int64_t before = clock.NowUs();
        if (port_) port_->WaitForInput(slice, wake_.get());
        else YieldMs(slice);
        idleUs += std::max<std::int64_t>(clock.NowUs() - before, 1);
        if (idleUs >= budgetUs) {
            // Bytes that arrived as the budget ran out still count.
            if (port_) {
                const int n = port_->ReadQueued(destination + gathered, wanted - gathered);
                if (n > 0) gathered += n;
            }
            break;
        }
    }
    return gathered;
}

std::int64_t LinkEngine::AwaitFlow(const FlowWatch& flow, int gathered, int missing) {
    // Bytes are coming: rather than wake for every few the driver hands on,
    // sleep until all but the last millisecond of them could have arrived at
    // the line's speed. The wake event ends the sleep at once for a stop.
    // The pace is judged on what came after the first read (which also took
    // what had waited in the queue), once long enough to tell: bytes faster
    // than twice the line's pace come from no paced line (a pseudo-terminal
    // with nobody pacing it), and the rest is read at once.
    const std::int64_t byteUs = 10'000'000 / std::max<std::uint32_t>(settings_.baudRate, 1);
    auto sinceUs = [&] {
        const auto since = std::chrono::steady_clock::now() - flow.firstRead;
        return std::chrono::duration_cast<std::chrono::microseconds>(since).count();
    };
    const std::int64_t before = clock_.NowUs();
    std::int64_t arrived = gathered - flow.firstCount;
    if (sinceUs() < kFlowJudgeUs) {
        // Too soon to tell. With much still to come, sleep until the pace can
        // be judged rather than wake for each few bytes meanwhile (each such
        // read costs several server round trips under wine); a sleep that a
        // coarse timer stretches to a tick still ends long before the rest.
        if (std::int64_t(missing) * byteUs < kFlowJudgeSleepMinUs) return 0;
        // Only where the port can count its input, and not all of it is in
        // yet: a memory line or a fake hands bytes on as fast as they are read.
        const int ready = port_ ? port_->InputAvailable() : SerialPort::kUnknown;
        if (ready < 0 || ready >= missing) return 0;
        YieldMs(int((kFlowJudgeUs - sinceUs() + 999) / 1000));
        // What came meanwhile is judged where the port can count it unread;
        // elsewhere the next read takes it and the pace is judged then.
        const int queued = port_ ? port_->InputAvailable() : SerialPort::kUnknown;
        if (queued < 0 || sinceUs() < kFlowJudgeUs) return clock_.NowUs() - before;
        arrived += queued;
        missing -= std::min(queued, missing);
    }
    if (sinceUs() * 2 < arrived * byteUs) return clock_.NowUs() - before;
    const std::int64_t wireUs = std::int64_t(missing) * byteUs;
    const int sleepMs = int(std::min<std::int64_t>((wireUs - kFlowSlackUs) / 1000, kFlowWaitMaxMs));
    if (sleepMs >= kFlowWaitMinMs) YieldMs(sleepMs);
    return clock_.NowUs() - before;
}

int LinkEngine::WritePort(const std::uint8_t* source, std::int32_t count) {
    // The exchanges carry on as if every write went out: a lost frame shows up
    // as a missing answer, which each exchange already handles.
    WriteFully(source, count);
    return 1;
}

bool LinkEngine::WriteFully(const std::uint8_t* source, std::int32_t count) {
    if (!port_) return false;
    LinkClock& clock = clock_;
    const std::int64_t limitUs = std::int64_t(kWriteWaitMs) * 1000;
    const std::int64_t start = clock.NowUs();
    int written = 0;
    while (written < count && !StopRequested()) {
        const int n = port_->WriteSome(source + written, count - written);
        if (n == SerialPort::kGone) deviceGone_.store(true, std::memory_order_relaxed);
        if (n > 0) {
            written += n;
            continue;
        }
        const std::int64_t leftUs = limitUs - (clock.NowUs() - start);
        if (leftUs <= 0) break;
        port_->WaitForOutput(WaitMs(clock.RealMs((leftUs + 999) / 1000)), wake_.get());
    }
    NoteLineClear(start, written);
    return written == count;
}

void LinkEngine::NoteLineClear(std::int64_t writeStartUs, int bytes) {
    // Ten bits a byte. A UART still holds what its queue reports when the
    // write returns; a pseudo-terminal holds nothing, but whoever reads it at
    // the line's pace takes the frame's bytes from the write's start on.
    const std::int64_t byteUs = clock_.LinkUsOfReal(10'000'000 / std::max<std::uint32_t>(settings_.baudRate, 1));
    const int queued = std::max(port_->OutputQueued(), 0);
    lineClearUs_ = std::max(writeStartUs + bytes * byteUs, clock_.NowUs() + queued * byteUs);
}

void LinkEngine::DrainOutput() {
    if (!port_) return;
    LinkClock& clock = clock_;
    const std::int64_t limitUs = std::int64_t(kOutputDrainWaitMs) * 1000;
    const std::int64_t start = clock.NowUs();
    while (!StopRequested()) {
        const int queued = port_->OutputQueued();
        if (queued == SerialPort::kGone) deviceGone_.store(true, std::memory_order_relaxed);
        if (queued <= 0) return;
        const std::int64_t leftUs = limitUs - (clock.NowUs() - start);
        if (leftUs <= 0) return;
        YieldMs(std::min(kWaitSliceMs, clock.RealMs((leftUs + 999) / 1000)));
    }
}

void LinkEngine::PurgePort() {
    if (!port_) return;
    DrainOutput();
    port_->Purge();
}

int LinkEngine::SetBaudRate(std::uint32_t baud) {
    settings_.baudRate = baud;
    if (!port_) return 0;
    // Bytes still queued would leave at the new speed, garbled for the receiver.
    DrainOutput();
    if (port_->Apply(settings_)) return 0;
    std::string name = port_->Device();
    if (name.rfind(R"(\\.\)", 0) == 0) name.erase(0, 4);  // Windows' device prefix
    ShowMessage(name + ": the driver refused " + std::to_string(baud) + " baud; the transfer was stopped");
    return -1;
}

int LinkEngine::SendCommand(std::uint16_t code) {
    const CommandFrame frame = EncodeCommandFrame(code);
    // Only frames that really went out are traced.
    if (WriteFully(frame.data(), kCommandFrameSize) && tracer_) tracer_->Sent(frame.data(), frame.size());
    return 0;
}

std::int32_t LinkEngine::SendDataFrame(const std::uint8_t* payload, std::int32_t length) {
    if (length < 0 || length > kMaxPayload) return -1;
    try {
        EncodeDataFrame(std::span<const std::uint8_t>(payload, std::size_t(length)), frameOut_);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    if (WriteFully(frameOut_.data(), std::int32_t(frameOut_.size())) && tracer_)
        tracer_->Sent(frameOut_.data(), frameOut_.size());
    return 0;
}

std::int32_t LinkEngine::ReceiveFrame(std::span<std::uint8_t> destination, std::uint32_t* payloadLength,
                                      std::int32_t timeout) {
    auto report = [&](int result, std::uint32_t length = 0) {
        if (tracer_) tracer_->Received(result, length);
        return result;
    };
    // 1. The header, whole, or a time-out; what arrived of it is dropped.
    std::array<std::uint8_t, kFrameHeaderSize> headerBytes;
    const int got = ReadPort(headerBytes.data(), kFrameHeaderSize, timeout);
    if (got < kFrameHeaderSize) return StopRequested() ? kRecvTimeout : report(kRecvTimeout);
    // 2. What it is: no search for the magic, the 12 bytes are gone either way.
    const FrameHeader header = DecodeFrameHeader(headerBytes);
    if (header.kind == FrameHeader::Kind::BadMagic) return report(kRecvBadMagic);
    if (header.kind == FrameHeader::Kind::Command) return report(header.code);
    // 3. A data frame's body, with a budget of its own.
    try {
        frameIn_.resize(header.bodyLength);
    } catch (const std::bad_alloc&) {
        return report(kRecvNoMemory);
    }
    const auto bodyLength = std::int32_t(header.bodyLength);
    if (ReadPort(frameIn_.data(), bodyLength, timeout) < bodyLength) return report(kRecvShortFrame);
    // 4. Its CRC, then the payload for the caller.
    switch (CheckDataBody(frameIn_)) {
        case BodyCheck::Short: return report(kRecvShortFrame);
        case BodyCheck::BadCrc: return report(kRecvBadCrc, std::uint32_t(header.bodyLength - kCrcSize));
        case BodyCheck::Good: break;
    }
    const std::uint32_t n = std::uint32_t(header.bodyLength - kCrcSize);
    if (payloadLength) *payloadLength = n;
    if (destination.data()) {
        // Never past the caller's buffer: an oversize payload is refused whole.
        if (n > destination.size()) return report(kRecvTooLarge, n);
        if (n) std::memcpy(destination.data(), frameIn_.data(), n);
    }
    return report(kRecvDataFrame, n);
}

}  // namespace tarven
