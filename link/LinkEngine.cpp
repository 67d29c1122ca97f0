#include "LinkEngine.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

#include "Frames.h"
#include "PortAccess.h"

namespace tarven {

LinkEngine::LinkEngine(const RunRequest& request, LinkClock& clock, PortHandle p, FrameTracer* frameTracer)
    : mode(request.mode),
      fileName(request.fileName),
      imageKind(KindId(request.kind)),
      accessLevel(request.level),
      sendingFlag(request.mode == LinkMode::Upload ? 1 : 0),
      tracer(frameTracer),
      settings(PortSettingsFor(request.portIndex)),
      port(std::move(p)),
      versionBuffer(kVersionBufferSize, 0),
      clock_(clock) {}

LinkEngine::~LinkEngine() {
    ClosePort(port);
    wakeOnStop_.reset();
    wake_.reset();
    // A read-back cut off mid-way keeps what it received so far.
    if (imageFile >= 0) ::close(imageFile);
}

int LinkEngine::CreateEvents() {
    if (wake_) return 1;
    auto wake = std::make_unique<WakeEvent>();
    if (wake->Valid()) {
        wake_ = std::move(wake);
        return 1;
    }
    LinkNotifier* sink = LinkMessageSink();
    sink->ShowMessageBox("Fails to create multi-thread for Kermit!", {});
    return 0;
}

void LinkEngine::AttachStop(std::stop_token token) {
    stop_ = token;
    WakeEvent* wake = wake_.get();
    if (!wake) return;
    // Wakes every wait of the worker at once, so a stop never waits out a slice.
    wakeOnStop_ = std::make_unique<std::stop_callback<std::function<void()>>>(
        stop_, std::function<void()>([wake] { wake->Signal(); }));
}

void LinkEngine::Post(unsigned message, std::intptr_t wParam, std::intptr_t lParam) {
    if (!notifyWindow) return;
    if (message == WM_LINK_PROGRESS) {
        // Other progress codes are not the worker's; nobody would act on them.
        if (wParam == kProgressTotal) notifyWindow->OnLinkEvent(Progress{Progress::Step::Total, lParam});
        if (wParam == kProgressPosition) notifyWindow->OnLinkEvent(Progress{Progress::Step::Position, lParam});
    } else if (message == WM_LINK_EVENT && wParam == kEventVersionReady) {
        VersionReady ready;
        std::memcpy(ready.block.data(), versionBuffer.data(), ready.block.size());
        notifyWindow->OnLinkEvent(ready);
    } else if (message == WM_LINK_EVENT && wParam == kEventFinished) {
        // The doubt is written before the finishing event, and only by this thread.
        notifyWindow->OnLinkEvent(Finished{std::int32_t(lParam), uploadDoubt.load()});
    }
}

void LinkEngine::ShowMessage(const std::string& text) {
    LinkNotifier* target = notifyWindow ? notifyWindow : LinkMessageSink();
    target->ShowMessageBox(text, stop_);
}

void LinkEngine::YieldMs(int realMs) {
    if (realMs <= 0 || StopRequested()) return;
    if (wake_) wake_->Wait(realMs);
    else std::this_thread::sleep_for(std::chrono::milliseconds(realMs));
}

void LinkEngine::Pause(int ms) {
    LinkClock& clock = clock_;
    const std::int64_t end = clock.NowUs() + std::int64_t(ms) * 1000;
    while (!StopRequested()) {
        const std::int64_t left = end - clock.NowUs();
        if (left <= 0) return;
        YieldMs(std::min(kWaitSliceMs, clock.RealMs((left + 999) / 1000)));
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
    int gathered = 0;
    while (gathered < wanted && !StopRequested()) {
        if (port) {
            const int n = port->ReadQueued(destination + gathered, wanted - gathered);
            deviceGone_.store(n == SerialPort::kGone, std::memory_order_relaxed);
            if (n > 0) {
                gathered += n;
                continue;
            }
        }
        // Only time with nothing queued counts, and it adds up over the whole call.
        const std::int64_t leftUs = budgetUs - idleUs;
        const int slice = std::min(kWaitSliceMs, clock.RealMs((leftUs + 999) / 1000));
        const std::int64_t before = clock.NowUs();
        if (port)
            port->WaitForInput(slice, wake_.get());
        else
            YieldMs(slice);
        idleUs += std::max<std::int64_t>(clock.NowUs() - before, 1);
        if (idleUs >= budgetUs) {
            // Bytes that arrived as the budget ran out still count.
            if (port) {
                const int n = port->ReadQueued(destination + gathered, wanted - gathered);
                if (n > 0) gathered += n;
            }
            break;
        }
    }
    return gathered;
}

int LinkEngine::WritePort(const std::uint8_t* source, std::int32_t count) {
    // The exchanges carry on as if every write went out: a lost frame shows up
    // as a missing answer, which each exchange already handles.
    WriteFully(source, count);
    return 1;
}

bool LinkEngine::WriteFully(const std::uint8_t* source, std::int32_t count) {
    if (!port) return false;
    LinkClock& clock = clock_;
    const std::int64_t limitUs = std::int64_t(kWriteWaitMs) * 1000;
    const std::int64_t start = clock.NowUs();
    int written = 0;
    while (written < count && !StopRequested()) {
        const int n = port->WriteSome(source + written, count - written);
        if (n == SerialPort::kGone) deviceGone_.store(true, std::memory_order_relaxed);
        if (n > 0) {
            written += n;
            continue;
        }
        const std::int64_t leftUs = limitUs - (clock.NowUs() - start);
        if (leftUs <= 0) break;
        port->WaitForOutput(std::min(kWaitSliceMs, clock.RealMs((leftUs + 999) / 1000)), wake_.get());
    }
    return written == count;
}

void LinkEngine::DrainOutput() {
    if (!port) return;
    LinkClock& clock = clock_;
    const std::int64_t limitUs = std::int64_t(kOutputDrainWaitMs) * 1000;
    const std::int64_t start = clock.NowUs();
    while (!StopRequested()) {
        const int queued = port->OutputQueued();
        if (queued == SerialPort::kGone) deviceGone_.store(true, std::memory_order_relaxed);
        if (queued <= 0) return;
        const std::int64_t leftUs = limitUs - (clock.NowUs() - start);
        if (leftUs <= 0) return;
        YieldMs(std::min(kWaitSliceMs, clock.RealMs((leftUs + 999) / 1000)));
    }
}

void LinkEngine::PurgePort() {
    if (!port) return;
    DrainOutput();
    port->Purge();
}

int LinkEngine::SetBaudRate(std::uint32_t baud) {
    settings.baudRate = baud;
    if (!port) return 0;
    // Bytes still queued would leave at the new speed, garbled for the receiver.
    DrainOutput();
    port->Apply(settings);
    return 0;
}

int LinkEngine::SendCommand(std::uint16_t code) {
    const CommandFrame frame = EncodeCommandFrame(code);
    // Only frames that really went out are traced.
    if (WriteFully(frame.data(), kCommandFrameSize) && tracer) tracer->Sent(frame.data(), frame.size());
    return 0;
}

std::int32_t LinkEngine::SendDataFrame(const std::uint8_t* payload, std::int32_t length) {
    if (length < 0 || length > kMaxPayload) return -1;
    try {
        EncodeDataFrame(std::span<const std::uint8_t>(payload, std::size_t(length)), frameOut_);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    if (WriteFully(frameOut_.data(), std::int32_t(frameOut_.size())) && tracer)
        tracer->Sent(frameOut_.data(), frameOut_.size());
    return 0;
}

std::int32_t LinkEngine::ReceiveFrame(std::span<std::uint8_t> destination, std::uint32_t* payloadLength,
                                      std::int32_t timeout) {
    auto report = [&](int result, std::uint32_t length = 0) {
        if (tracer) tracer->Received(result, length);
        return result;
    };
    std::uint8_t header[kFrameHeaderSize];
    const int got = ReadPort(header, kFrameHeaderSize, timeout);
    if (got < kFrameHeaderSize) return StopRequested() ? kRecvTimeout : report(kRecvTimeout);
    if (!std::equal(kFrameMagic.begin(), kFrameMagic.end(), header)) return report(kRecvBadMagic);
    const int code = header[8] << 8 | header[9];
    if (code != kCodeDataMarker) return report(code);

    const int bodyLength = header[10] << 8 | header[11];
    try {
        frameIn_.resize(std::size_t(bodyLength));
    } catch (const std::bad_alloc&) {
        return report(kRecvNoMemory);
    }
    if (ReadPort(frameIn_.data(), bodyLength, timeout) < bodyLength) return report(kRecvShortFrame);
    if (bodyLength < kCrcSize) return report(kRecvShortFrame);

    const std::uint32_t n = std::uint32_t(bodyLength - kCrcSize);
    if (ReadBigEndian32(frameIn_.data() + n) != Crc32(frameIn_.data(), std::int32_t(n))) return report(kRecvBadCrc, n);
    if (payloadLength) *payloadLength = n;
    if (destination.data()) {
        // Never past the caller's buffer: an oversize payload is refused whole.
        if (n > destination.size()) return report(kRecvTooLarge, n);
        if (n) std::memcpy(destination.data(), frameIn_.data(), n);
    }
    return report(kRecvDataFrame, n);
}

}  // namespace tarven
