// The line side of the simulated receiver: the thread that owns the master,
// pacing, injected line faults, records, and the public API.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <system_error>

#include "LinkClock.h"
#include "SimReceiverImpl.h"

namespace tarven::sim {

std::int64_t NowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(Clock::now().time_since_epoch()).count();
}

Clock::time_point TimePointOfUs(std::int64_t us) {
    return Clock::time_point(std::chrono::duration_cast<Clock::duration>(std::chrono::microseconds(us)));
}

std::int64_t RealUsOfLinkMs(std::int64_t linkMs) {
    if (linkMs <= 0) return 0;
    return std::int64_t(std::ceil(double(linkMs) * 1000.0 / LinkTime().SpeedUp()));
}

namespace {

// Longest the line thread sleeps with nothing due, so options changed from
// outside (pacing, the program's speed) are picked up promptly.
constexpr std::int64_t kMaxSleepUs = 20000;
constexpr std::int64_t kMinResyncUs = 20000;
// Bytes written per wake-up when pacing: about a millisecond's worth at 115200.
constexpr std::int64_t kPacedChunkBytes = 12;

}  // namespace

// ============================================================ Impl: setup

SimReceiver::Impl::Impl(SimOptions initial) : options(std::move(initial)) {
    PtyPair pair = OpenPtyPair();
    port = std::make_unique<PtyMasterPort>(pair.masterFd, pair.slavePath);
    keptSlave = pair.keptSlave;
    devicePath = pair.slavePath;
    if (!wakeEvent.Valid()) {
        const int error = errno;
        ::close(keptSlave);
        throw std::system_error(error, std::generic_category(), "eventfd");
    }
    const std::uint64_t seed = options.line.seed;
    rngIn.seed(seed);
    rngOut.seed(seed ^ 0x9E3779B97F4A7C15ull);
    rngReply.seed(seed ^ 0xC2B2AE3D27D4EB4Full);
    thread = std::jthread([this](std::stop_token stop) { Run(stop); });
}

SimReceiver::Impl::~Impl() {
    thread.request_stop();
    Wake();
    if (thread.joinable()) thread.join();
    port->Close();
    {
        std::lock_guard lock(slaveMutex);
        if (keptSlave >= 0) ::close(keptSlave);
        keptSlave = -1;
    }
}

void SimReceiver::Impl::Wake() { wakeEvent.Signal(); }

void SimReceiver::Impl::Post(std::function<void()> fn) {
    {
        std::lock_guard lock(mutex);
        posted.push_back(std::move(fn));
        outputIdle = false;
    }
    Wake();
}

SimOptions SimReceiver::Impl::OptionsSnapshot() const {
    std::lock_guard lock(mutex);
    return options;
}

LineOptions SimReceiver::Impl::LineSnapshot() const {
    std::lock_guard lock(mutex);
    return options.line;
}

std::uint32_t SimReceiver::Impl::Baud() const {
    std::lock_guard lock(slaveMutex);
    return TerminalBaud(keptSlave);
}

std::int64_t SimReceiver::Impl::ByteTimeUs() const {
    std::uint32_t baud = Baud();
    if (baud == 0) baud = kBaudNormal;
    // Ten bits a byte: start, eight data bits, stop.
    return std::max<std::int64_t>(1, std::int64_t(std::llround(10e6 / double(baud) / LinkTime().SpeedUp())));
}

double SimReceiver::Impl::Chance(std::mt19937_64& rng) {
    return std::uniform_real_distribution<double>(0.0, 1.0)(rng);
}

void SimReceiver::Impl::CorruptBytes(std::uint8_t* bytes, std::size_t count, double rate, std::mt19937_64& rng) {
    if (rate <= 0) return;
    for (std::size_t i = 0; i < count; ++i)
        if (Chance(rng) < rate) bytes[i] ^= std::uint8_t(1u << (rng() % 8));
}

void SimReceiver::Impl::After(std::int64_t realUs, std::function<void()> fn) {
    timers.push_back(Timer{NowUs() + realUs, std::move(fn)});
}

// ============================================================ Impl: records

std::uint64_t SimReceiver::Impl::RecordFrame(FrameRecord record) {
    std::lock_guard lock(mutex);
    record.sequence = nextSequence++;
    const std::uint64_t sequence = record.sequence;
    frames.push_back(std::move(record));
    NotifyLocked();
    return sequence;
}

void SimReceiver::Impl::FinishSentRecord(std::uint64_t sequence, std::int64_t now, bool dropped) {
    if (sequence == 0) return;
    const std::uint32_t baud = Baud();
    std::lock_guard lock(mutex);
    for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
        if (it->sequence != sequence) continue;
        it->time = TimePointOfUs(now);
        it->baud = baud;
        it->sent = !dropped;
        it->dropped = dropped;
        break;
    }
    NotifyLocked();
}

void SimReceiver::Impl::RecordChunk(Direction direction, std::int64_t now, Bytes bytes) {
    std::lock_guard lock(mutex);
    byteLog.push_back(ByteChunk{direction, TimePointOfUs(now), std::move(bytes)});
    NotifyLocked();
}

void SimReceiver::Impl::Event(SimEvent::Type type, std::string text) {
    SimEvent event{type, std::move(text), Clock::now()};
    {
        std::lock_guard lock(mutex);
        events.push_back(event);
        NotifyLocked();
    }
    pendingEvents.push_back(std::move(event));
}

void SimReceiver::Impl::FlushEvents() {
    if (pendingEvents.empty()) return;
    std::vector<SimEvent> batch;
    batch.swap(pendingEvents);
    std::lock_guard lock(callbackMutex);
    for (const SimEvent& event : batch)
        if (eventCallback) eventCallback(event);
}

void SimReceiver::Impl::SetOutputIdle(bool idle) {
    std::lock_guard lock(mutex);
    if (outputIdle == idle) return;
    outputIdle = idle;
    NotifyLocked();
}

// ============================================================ Impl: output

void SimReceiver::Impl::QueueUnit(Bytes wire, std::uint64_t record) {
    OutUnit unit;
    unit.bytes = std::move(wire);
    unit.notBeforeUs = std::max(NowUs(), currentFrameArrivalUs);
    unit.record = record;
    out.push_back(std::move(unit));
    SetOutputIdle(false);
}

void SimReceiver::Impl::Queue(Send how, FrameKind kind, std::uint16_t code, Bytes payload, Bytes wire,
                              FrameFlags flags) {
    const LineOptions line = LineSnapshot();
    const std::int64_t now = NowUs();
    auto record = [&](FrameKind k, std::uint16_t c, const Bytes& p, bool dropped) {
        FrameRecord r;
        r.direction = Direction::ToProgram;
        r.kind = k;
        r.code = c;
        r.payload = p;
        if (k == FrameKind::Data && wire.size() >= std::size_t(kDataFrameOverhead) && !flags.truncated)
            r.crc = ReadBigEndian32(wire.data() + wire.size() - kCrcSize);
        r.time = TimePointOfUs(now);
        r.baud = Baud();
        r.dropped = dropped;
        r.corrupted = flags.corrupted;
        r.truncated = flags.truncated;
        return RecordFrame(std::move(r));
    };
    const bool silent = now < silentUntilUs || vanished.load();
    if (flags.dropped || silent) {
        record(kind, code, payload, true);
        return;
    }
    int copies = 1;
    if (how == Send::Reply) {
        if (line.dropReplyRate > 0 && Chance(rngReply) < line.dropReplyRate) copies = 0;
        else if (line.duplicateReplyRate > 0 && Chance(rngReply) < line.duplicateReplyRate) copies = 2;
        if (copies > 0 && line.garbageRate > 0 && Chance(rngReply) < line.garbageRate) {
            const int count = 1 + int(rngReply() % std::uint64_t(std::max(1, line.garbageMaxBytes)));
            Bytes garbage(std::size_t(count), 0);
            for (auto& b : garbage) b = std::uint8_t(rngReply());
            const std::uint64_t seq = record(FrameKind::Raw, 0, garbage, false);
            QueueUnit(std::move(garbage), seq);
        }
    }
    if (copies == 0) {
        record(kind, code, payload, true);
        return;
    }
    for (int i = 0; i < copies; ++i) {
        Bytes bytes = wire;
        CorruptBytes(bytes.data(), bytes.size(), line.corruptOutRate, rngOut);
        const std::uint64_t seq = record(kind, code, payload, false);
        QueueUnit(std::move(bytes), seq);
    }
}

void SimReceiver::Impl::ReplyCommand(std::uint16_t code, FrameFlags flags) {
    const CommandFrame frame = EncodeCommandFrame(code);
    Bytes wire(frame.begin(), frame.end());
    lastReplyWire = wire;
    lastReplyKind = FrameKind::Command;
    lastReplyCode = code;
    lastReplyPayload.clear();
    if (flags.corrupted) wire[std::size_t(code) % kFrameMagic.size()] ^= 0x20;  // still 12 bytes, wrong magic
    Queue(Send::Reply, FrameKind::Command, code, {}, std::move(wire), flags);
}

void SimReceiver::Impl::ReplyData(const Bytes& payload, FrameFlags flags) {
    Bytes wire = DataFrame(payload);
    lastReplyWire = wire;
    lastReplyKind = FrameKind::Data;
    lastReplyCode = kCodeDataMarker;
    lastReplyPayload = payload;
    if (flags.corrupted) wire.back() ^= 0x01;
    if (flags.truncated) wire.resize(std::size_t(kFrameHeaderSize) + (payload.size() + kCrcSize) / 2);
    Queue(Send::Reply, FrameKind::Data, kCodeDataMarker, payload, std::move(wire), flags);
}

void SimReceiver::Impl::ResendLastReply() {
    if (lastReplyWire.empty()) return;
    Queue(Send::Reply, lastReplyKind, lastReplyCode, lastReplyPayload, lastReplyWire);
}

void SimReceiver::Impl::QueueOutgoing(Send how, const Outgoing& item) {
    switch (item.kind) {
        case Outgoing::Kind::Command: {
            const CommandFrame frame = EncodeCommandFrame(item.code);
            Queue(how, FrameKind::Command, item.code, {}, Bytes(frame.begin(), frame.end()));
            break;
        }
        case Outgoing::Kind::Data:
            Queue(how, FrameKind::Data, kCodeDataMarker, item.bytes, DataFrame(item.bytes));
            break;
        case Outgoing::Kind::Raw:
            Queue(how, FrameKind::Raw, 0, item.bytes, item.bytes);
            break;
    }
}

void SimReceiver::Impl::DropQueuedOutput(std::int64_t now) {
    for (const OutUnit& unit : out) FinishSentRecord(unit.record, now, true);
    out.clear();
}

std::int64_t SimReceiver::Impl::PumpOutput(std::int64_t now) {
    constexpr std::int64_t kNothing = INT64_MAX;
    if (out.empty()) return kNothing;
    if (vanished.load()) {
        DropQueuedOutput(now);
        return kNothing;
    }
    if (now < pausedUntilUs) return pausedUntilUs;
    const bool paced = LineSnapshot().paced;
    while (!out.empty()) {
        OutUnit& unit = out.front();
        if (unit.notBeforeUs > now) return unit.notBeforeUs;
        const std::size_t remaining = unit.bytes.size() - unit.pos;
        std::size_t allowed = remaining;
        std::int64_t byteUs = 0, startUs = 0;
        if (paced) {
            // A byte goes to the program once it would have fully crossed the line.
            byteUs = ByteTimeUs();
            startUs = std::max({lineFreeUs, unit.notBeforeUs, pausedUntilUs});
            const std::int64_t due = now > startUs ? (now - startUs) / byteUs : 0;
            allowed = std::size_t(std::min<std::int64_t>(due, std::int64_t(remaining)));
            if (allowed == 0)
                return startUs + byteUs * std::min<std::int64_t>(kPacedChunkBytes, std::int64_t(remaining));
        }
        const int written = remaining == 0 ? 0 : port->WriteSome(unit.bytes.data() + unit.pos, int(allowed));
        if (written == SerialPort::kGone) {
            DoVanish();
            return kNothing;
        }
        if (written > 0) {
            RecordChunk(Direction::ToProgram, now,
                        Bytes(unit.bytes.begin() + std::ptrdiff_t(unit.pos),
                              unit.bytes.begin() + std::ptrdiff_t(unit.pos) + written));
            unit.pos += std::size_t(written);
            lineFreeUs = paced ? startUs + byteUs * written : now;
        }
        if (unit.pos < unit.bytes.size()) {
            if (std::size_t(written) < allowed) return now + 1000;  // the terminal's queue is full
            const std::int64_t left = std::int64_t(unit.bytes.size() - unit.pos);
            return lineFreeUs + byteUs * std::min<std::int64_t>(kPacedChunkBytes, left);
        }
        FinishSentRecord(unit.record, now, false);
        out.pop_front();
    }
    SetOutputIdle(true);
    return kNothing;
}

// ============================================================ Impl: input

std::int64_t SimReceiver::Impl::ArrivalOfByte(std::uint64_t index) const {
    for (const ArrivalSpan& span : arrivals)
        if (index >= span.first && index < span.first + span.count)
            return span.startUs + std::int64_t(index - span.first + 1) * span.byteUs;
    return NowUs();
}

void SimReceiver::Impl::ReadInput(std::int64_t now) {
    std::uint8_t buffer[4096];
    for (;;) {
        const int n = port->ReadQueued(buffer, int(sizeof buffer));
        if (n == SerialPort::kGone) {
            DoVanish();
            return;
        }
        if (n <= 0) return;
        Bytes chunk(buffer, buffer + n);
        if (now < silentUntilUs) {
            RecordChunk(Direction::FromProgram, now, std::move(chunk));
            continue;
        }
        const LineOptions line = LineSnapshot();
        CorruptBytes(chunk.data(), chunk.size(), line.corruptInRate, rngIn);
        if (line.paced) {
            const std::int64_t byteUs = ByteTimeUs();
            const std::int64_t start = std::max(now, inLineFreeUs);
            arrivals.push_back(ArrivalSpan{fedBytes, std::uint64_t(n), start, byteUs});
            inLineFreeUs = start + byteUs * n;
        }
        parser.Feed(chunk.data(), chunk.size());
        fedBytes += std::uint64_t(n);
        lastInputUs = now;
        RecordChunk(Direction::FromProgram, now, std::move(chunk));
        while (auto frame = parser.Next()) {
            const std::uint64_t consumed = fedBytes - parser.Pending();
            const std::int64_t arrival = line.paced ? ArrivalOfByte(consumed - 1) : now;
            pendingFrames.push_back(PendingFrame{std::move(*frame), arrival});
        }
        const std::uint64_t consumed = fedBytes - parser.Pending();
        while (!arrivals.empty() && arrivals.front().first + arrivals.front().count <= consumed)
            arrivals.pop_front();
    }
}

void SimReceiver::Impl::ProcessDueFrames(std::int64_t now) {
    while (!pendingFrames.empty() && pendingFrames.front().arrivalUs <= now) {
        PendingFrame pending = std::move(pendingFrames.front());
        pendingFrames.pop_front();
        HandleFrame(pending.frame, pending.arrivalUs);
        FlushEvents();
        if (vanished.load()) return;
    }
}

void SimReceiver::Impl::HandleFrame(const ParsedFrame& frame, std::int64_t arrivalUs) {
    FrameRecord record;
    record.direction = Direction::FromProgram;
    switch (frame.kind) {
        case ParsedFrame::Kind::Command: record.kind = FrameKind::Command; break;
        case ParsedFrame::Kind::Data: record.kind = FrameKind::Data; break;
        case ParsedFrame::Kind::BadCrc: record.kind = FrameKind::BadCrc; break;
        case ParsedFrame::Kind::BadMagic: record.kind = FrameKind::BadMagic; break;
    }
    const bool isData = record.kind == FrameKind::Data || record.kind == FrameKind::BadCrc;
    record.code = isData ? std::uint16_t(kCodeDataMarker) : frame.code;
    record.payload = frame.payload;
    record.crc = frame.crcReceived;
    record.time = TimePointOfUs(arrivalUs);
    record.baud = Baud();
    record.sent = true;
    record.sequence = RecordFrame(record);
    ++framesReceived;

    const LineOptions line = LineSnapshot();
    const std::int64_t now = NowUs();
    currentFrameArrivalUs = arrivalUs;
    if (line.vanishAfterFrames > 0 && framesReceived == std::size_t(line.vanishAfterFrames)) {
        DoVanish();
        return;
    }
    if (line.pauseAfterFrames > 0 && framesReceived == std::size_t(line.pauseAfterFrames))
        pausedUntilUs = std::max(pausedUntilUs, now + RealUsOfLinkMs(line.pauseMs));
    if (line.silentAfterFrames > 0 && framesReceived == std::size_t(line.silentAfterFrames)) {
        silentUntilUs = now + RealUsOfLinkMs(line.silentMs);
        parser.Clear();
        pendingFrames.clear();
        arrivals.clear();
        DropQueuedOutput(now);
        return;
    }

    std::optional<std::vector<Outgoing>> answer;
    {
        std::lock_guard lock(callbackMutex);
        if (hook) answer = hook(record);
    }
    if (answer) {
        for (const Outgoing& item : *answer) QueueOutgoing(Send::Reply, item);
        return;
    }
    Dispatch(frame);
}

// ============================================================ Impl: the thread

void SimReceiver::Impl::RunPosted() {
    std::vector<std::function<void()>> batch;
    {
        std::lock_guard lock(mutex);
        batch.swap(posted);
    }
    for (auto& fn : batch) fn();
    if (out.empty() && !batch.empty()) SetOutputIdle(true);
}

void SimReceiver::Impl::RunTimers(std::int64_t now) {
    std::vector<Timer> due;
    for (auto it = timers.begin(); it != timers.end();) {
        if (it->dueUs <= now) {
            due.push_back(std::move(*it));
            it = timers.erase(it);
        } else {
            ++it;
        }
    }
    for (Timer& timer : due) timer.fn();
}

void SimReceiver::Impl::Tick(std::int64_t now) {
    // A broken header leaves the parser waiting for bytes that will never
    // come; after a quiet spell, start afresh with the next byte.
    // Never sooner than kMinResyncUs of real time, however fast link time
    // runs: a frame written in one go can still reach us in pieces.
    const std::int64_t resyncUs = std::max(kMinResyncUs, RealUsOfLinkMs(LineSnapshot().resyncIdleMs));
    if (parser.Pending() > 0 && now - lastInputUs >= resyncUs) {
        Anomaly("dropped " + std::to_string(parser.Pending()) + " bytes of an unfinished frame");
        parser.Clear();
        arrivals.clear();
    }
    if (phase == Phase::ReadBack && !rb.awaitingSpeed && rb.o.resendAfterMs > 0 && out.empty() &&
        now - std::max(rb.lastActivityUs, lineFreeUs) >= RealUsOfLinkMs(rb.o.resendAfterMs)) {
        Anomaly("no answer from the program: resending");
        OnReadBackRepeat();
    }
    if (silentUntilUs != 0 && now >= silentUntilUs) silentUntilUs = 0;
}

std::int64_t SimReceiver::Impl::NextWake(std::int64_t now, std::int64_t outputWake) const {
    std::int64_t wake = std::min(outputWake, now + kMaxSleepUs);
    if (!pendingFrames.empty()) wake = std::min(wake, pendingFrames.front().arrivalUs);
    for (const Timer& timer : timers) wake = std::min(wake, timer.dueUs);
    return wake;
}

void SimReceiver::Impl::Run(std::stop_token stop) {
    while (!stop.stop_requested()) {
        std::int64_t now = NowUs();
        RunPosted();
        if (!vanished.load()) ReadInput(now);
        now = NowUs();
        ProcessDueFrames(now);
        RunTimers(now);
        Tick(now);
        const std::int64_t outputWake = PumpOutput(NowUs());
        FlushEvents();
        now = NowUs();
        const std::int64_t wake = NextWake(now, outputWake);
        if (wake > now) {
            const int ms = int((wake - now + 999) / 1000);
            port->WaitForInput(ms, &wakeEvent);
        }
        wakeEvent.Clear();
    }
}

void SimReceiver::Impl::DoVanish() {
    if (vanished.exchange(true)) return;
    port->Close();
    {
        std::lock_guard lock(slaveMutex);
        if (keptSlave >= 0) ::close(keptSlave);
        keptSlave = -1;
    }
    DropQueuedOutput(NowUs());
    pendingFrames.clear();
    timers.clear();
    SetOutputIdle(true);
    Event(SimEvent::Type::Vanished, "device vanished");
}

// ============================================================ SimReceiver

SimReceiver::SimReceiver(SimOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

SimReceiver::~SimReceiver() = default;

const std::string& SimReceiver::DevicePath() const { return impl_->devicePath; }

std::uint32_t SimReceiver::CurrentBaud() const { return impl_->Baud(); }

void SimReceiver::Vanish() {
    Impl* impl = impl_.get();
    if (std::this_thread::get_id() == impl->thread.get_id()) {
        impl->DoVanish();  // from a callback: the line thread is ours already
        return;
    }
    impl->Post([impl] { impl->DoVanish(); });
    WaitFor([impl] { return impl->vanished.load(); }, std::chrono::seconds(2));
}

bool SimReceiver::Vanished() const { return impl_->vanished.load(); }

void SimReceiver::Pause(int ms) {
    Impl* impl = impl_.get();
    impl->Post([impl, ms] { impl->pausedUntilUs = NowUs() + RealUsOfLinkMs(ms); });
}

void SimReceiver::GoSilent(int ms) {
    Impl* impl = impl_.get();
    impl->Post([impl, ms] {
        const std::int64_t now = NowUs();
        impl->silentUntilUs = now + RealUsOfLinkMs(ms);
        impl->parser.Clear();
        impl->pendingFrames.clear();
        impl->arrivals.clear();
        impl->DropQueuedOutput(now);
    });
}

SimOptions SimReceiver::Options() const { return impl_->OptionsSnapshot(); }

void SimReceiver::SetOptions(const SimOptions& options) {
    std::lock_guard lock(impl_->mutex);
    impl_->options = options;
}

void SimReceiver::UpdateOptions(const std::function<void(SimOptions&)>& change) {
    std::lock_guard lock(impl_->mutex);
    change(impl_->options);
}

void SimReceiver::SetReadBackImage(Bytes image) {
    std::lock_guard lock(impl_->mutex);
    impl_->readBackImage = std::move(image);
    impl_->readBackImageSet = true;
}

bool SimReceiver::LoadReadBackImage(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    Bytes image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) return false;
    SetReadBackImage(std::move(image));
    return true;
}

Bytes SimReceiver::Impl::CurrentReadBackImage() const {
    std::lock_guard lock(mutex);
    if (options.readBack.serveLastUpload) {
        // What the receiver kept: the last upload that took its end code.
        if (uploadLatest && uploadLatest->endCodes > 0) return uploadLatest->image;
        for (auto u = uploadsDone.rbegin(); u != uploadsDone.rend(); ++u)
            if (u->endCodes > 0) return u->image;
        return {};
    }
    if (readBackImageSet) return readBackImage;
    // A recognisable pattern: position-dependent, so a shifted or repeated slice shows.
    Bytes image(options.readBack.defaultImageSize);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = std::uint8_t((i * 7 + (i >> 8) * 13) & 0xFF);
    return image;
}

Bytes SimReceiver::ReadBackImage() const { return impl_->CurrentReadBackImage(); }

void SimReceiver::SetFrameHook(FrameHook hook) {
    std::lock_guard lock(impl_->callbackMutex);
    impl_->hook = std::move(hook);
}

void SimReceiver::SetEventCallback(EventCallback callback) {
    std::lock_guard lock(impl_->callbackMutex);
    impl_->eventCallback = std::move(callback);
}

void SimReceiver::SendCommand(std::uint16_t code) {
    Impl* impl = impl_.get();
    impl->Post([impl, code] { impl->QueueOutgoing(Impl::Send::Direct, Outgoing::Command(code)); });
}

void SimReceiver::SendData(Bytes payload) {
    Impl* impl = impl_.get();
    impl->Post([impl, p = std::move(payload)] { impl->QueueOutgoing(Impl::Send::Direct, Outgoing::Data(p)); });
}

void SimReceiver::SendRaw(Bytes bytes) {
    Impl* impl = impl_.get();
    impl->Post([impl, b = std::move(bytes)] { impl->QueueOutgoing(Impl::Send::Direct, Outgoing::Raw(b)); });
}

void SimReceiver::StartReadBack() {
    Impl* impl = impl_.get();
    impl->Post([impl] {
        impl->currentFrameArrivalUs = 0;
        impl->BeginReadBack(0, impl->OptionsSnapshot());
    });
}

std::vector<FrameRecord> SimReceiver::Frames() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->frames;
}

std::vector<FrameRecord> SimReceiver::ReceivedFrames() const {
    std::lock_guard lock(impl_->mutex);
    std::vector<FrameRecord> result;
    for (const auto& f : impl_->frames)
        if (f.direction == Direction::FromProgram) result.push_back(f);
    return result;
}

std::vector<FrameRecord> SimReceiver::SentFrames() const {
    std::lock_guard lock(impl_->mutex);
    std::vector<FrameRecord> result;
    for (const auto& f : impl_->frames)
        if (f.direction == Direction::ToProgram) result.push_back(f);
    return result;
}

std::vector<ByteChunk> SimReceiver::ByteLog() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->byteLog;
}

namespace {
Bytes Concatenate(const std::vector<ByteChunk>& log, Direction direction) {
    Bytes all;
    for (const auto& chunk : log)
        if (chunk.direction == direction) all.insert(all.end(), chunk.bytes.begin(), chunk.bytes.end());
    return all;
}
}  // namespace

Bytes SimReceiver::ReceivedBytes() const {
    std::lock_guard lock(impl_->mutex);
    return Concatenate(impl_->byteLog, Direction::FromProgram);
}

Bytes SimReceiver::SentBytes() const {
    std::lock_guard lock(impl_->mutex);
    return Concatenate(impl_->byteLog, Direction::ToProgram);
}

std::vector<UploadRecord> SimReceiver::Uploads() const {
    std::lock_guard lock(impl_->mutex);
    std::vector<UploadRecord> result = impl_->uploadsDone;
    if (impl_->uploadLatest) result.push_back(*impl_->uploadLatest);
    return result;
}

std::vector<ReadBackRecord> SimReceiver::ReadBacks() const {
    std::lock_guard lock(impl_->mutex);
    std::vector<ReadBackRecord> result = impl_->readBacksDone;
    if (impl_->readBackLatest) result.push_back(*impl_->readBackLatest);
    return result;
}

std::vector<SimEvent> SimReceiver::Events() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->events;
}

int SimReceiver::VersionAnswers() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->versionAnswers;
}

std::vector<std::uint16_t> SimReceiver::ReceivedCodes() const {
    std::lock_guard lock(impl_->mutex);
    std::vector<std::uint16_t> codes;
    for (const auto& f : impl_->frames)
        if (f.direction == Direction::FromProgram && f.kind == FrameKind::Command) codes.push_back(f.code);
    return codes;
}

void SimReceiver::ClearRecords() {
    std::lock_guard lock(impl_->mutex);
    impl_->frames.clear();
    impl_->byteLog.clear();
    impl_->uploadsDone.clear();
    impl_->uploadLatest.reset();
    impl_->readBacksDone.clear();
    impl_->readBackLatest.reset();
    impl_->events.clear();
    impl_->versionAnswers = 0;
    impl_->NotifyLocked();
}

bool SimReceiver::WaitFor(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        std::uint64_t seen;
        {
            std::lock_guard lock(impl_->mutex);
            seen = impl_->changeCount;
        }
        if (predicate()) return true;
        std::unique_lock lock(impl_->mutex);
        if (!impl_->changed.wait_until(lock, deadline, [&] { return impl_->changeCount != seen; })) {
            lock.unlock();
            return predicate();
        }
    }
}

bool SimReceiver::WaitForFrames(std::size_t receivedCount, std::chrono::milliseconds timeout) {
    return WaitFor([&] { return ReceivedFrames().size() >= receivedCount; }, timeout);
}

bool SimReceiver::WaitForCode(std::uint16_t code, std::chrono::milliseconds timeout, std::size_t occurrences) {
    return WaitFor(
        [&] {
            const auto codes = ReceivedCodes();
            return std::size_t(std::count(codes.begin(), codes.end(), code)) >= occurrences;
        },
        timeout);
}

bool SimReceiver::WaitForUpload(std::chrono::milliseconds timeout) {
    return WaitFor(
        [&] {
            const auto uploads = Uploads();
            return !uploads.empty() && uploads.back().endCodes > 0;
        },
        timeout);
}

bool SimReceiver::WaitForEvent(SimEvent::Type type, std::chrono::milliseconds timeout) {
    return WaitFor(
        [&] {
            const auto events = Events();
            return std::any_of(events.begin(), events.end(), [&](const SimEvent& e) { return e.type == type; });
        },
        timeout);
}

bool SimReceiver::WaitUntilSent(std::chrono::milliseconds timeout) {
    return WaitFor(
        [&] {
            std::lock_guard lock(impl_->mutex);
            return impl_->outputIdle && impl_->posted.empty();
        },
        timeout);
}

std::size_t SimReceiver::UnreadByProgram() const {
    std::lock_guard lock(impl_->slaveMutex);
    int queued = 0;
    if (impl_->keptSlave < 0 || ::ioctl(impl_->keptSlave, FIONREAD, &queued) != 0) return 0;
    return std::size_t(std::max(queued, 0));
}

bool SimReceiver::WaitUntilDelivered(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    if (!WaitUntilSent(timeout)) return false;
    // The program's reads change no record, so this one is polled.
    while (UnreadByProgram() > 0) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

SerialPort& SimReceiver::MasterPort() { return *impl_->port; }

}  // namespace tarven::sim
