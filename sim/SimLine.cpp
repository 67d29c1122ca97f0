// Thread ownership: the line thread alone, except the members marked "any thread" in SimLine.h.
#include "SimLine.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <system_error>

#include "LinkClock.h"

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
constexpr std::int64_t kNothingDue = INT64_MAX;
// How soon to try again when the terminal's queue took less than offered.
constexpr std::int64_t kFullQueueRetryUs = 1000;

}  // namespace

// ============================================================ setup

SimLine::SimLine(SimShared& shared, OptionsView& options) : shared_(shared), options_(options) {
    PtyPair pair = OpenPtyPair();
    port_ = std::make_unique<PtyMasterPort>(pair.masterFd, pair.slavePath);
    keptSlave_ = pair.keptSlave;
    devicePath_ = pair.slavePath;
    if (!wakeEvent_.Valid()) {
        const int error = errno;
        ::close(keptSlave_);
        throw std::system_error(error, std::generic_category(), "eventfd");
    }
    const std::uint64_t seed = options_.Get().line.seed;
    rngIn_.seed(seed);
    rngOut_.seed(seed ^ 0x9E3779B97F4A7C15ull);
    rngReply_.seed(seed ^ 0xC2B2AE3D27D4EB4Full);
}

SimLine::~SimLine() {
    port_->Close();
    std::lock_guard lock(slaveMutex_);
    if (keptSlave_ >= 0) ::close(keptSlave_);
    keptSlave_ = -1;
}

std::uint32_t SimLine::Baud() const { return TerminalBaud(keptSlave_); }

std::uint32_t SimLine::BaudFromAnyThread() const {
    std::lock_guard lock(slaveMutex_);
    return TerminalBaud(keptSlave_);
}

std::size_t SimLine::UnreadByProgram() const {
    std::lock_guard lock(slaveMutex_);
    int queued = 0;
    if (keptSlave_ < 0 || ::ioctl(keptSlave_, FIONREAD, &queued) != 0) return 0;
    return std::size_t(std::max(queued, 0));
}

std::int64_t SimLine::ByteTimeUs() const {
    std::uint32_t baud = Baud();
    if (baud == 0) baud = kBaudNormal;
    // Ten bits a byte: start, eight data bits, stop.
    return std::max<std::int64_t>(1, std::int64_t(std::llround(10e6 / double(baud) / LinkTime().SpeedUp())));
}

double SimLine::Chance(std::mt19937_64& rng) { return std::uniform_real_distribution<double>(0.0, 1.0)(rng); }

void SimLine::CorruptBytes(Bytes& bytes, double rate, std::mt19937_64& rng) {
    if (rate <= 0) return;
    for (auto& byte : bytes)
        if (Chance(rng) < rate) byte ^= std::uint8_t(1u << (rng() % 8));
}

void SimLine::Event(SimEvent::Type type, std::string text) {
    SimEvent event{type, std::move(text), Clock::now()};
    shared_.RecordEvent(event);
    pendingEvents_.push_back(std::move(event));
}

std::vector<SimEvent> SimLine::TakeEvents() {
    std::vector<SimEvent> batch;
    batch.swap(pendingEvents_);
    return batch;
}

// ============================================================ the line thread's clock

void SimLine::After(std::int64_t realUs, std::function<void()> fn) {
    timers_.push_back(Timer{NowUs() + realUs, std::move(fn)});
}

void SimLine::RunTimers(std::int64_t now) {
    std::vector<Timer> due;
    for (auto it = timers_.begin(); it != timers_.end();) {
        if (it->dueUs <= now) {
            due.push_back(std::move(*it));
            it = timers_.erase(it);
        } else {
            ++it;
        }
    }
    for (Timer& timer : due) timer.fn();
}

void SimLine::Sleep(std::int64_t outputWake) {
    const std::int64_t now = NowUs();
    std::int64_t wake = std::min(outputWake, now + kMaxSleepUs);
    if (!pendingFrames_.empty()) wake = std::min(wake, pendingFrames_.front().arrivalUs);
    for (const Timer& timer : timers_) wake = std::min(wake, timer.dueUs);
    if (wake > now) port_->WaitForInput(int((wake - now + 999) / 1000), &wakeEvent_);
    wakeEvent_.Clear();
}

// ============================================================ faults the callers play

void SimLine::PauseFor(int linkMs) { pausedUntilUs_ = NowUs() + RealUsOfLinkMs(linkMs); }

void SimLine::HoldOutputUntil(std::int64_t us) { pausedUntilUs_ = std::max(pausedUntilUs_, us); }

void SimLine::ForgetInput() {
    parser_.Clear();
    pendingFrames_.clear();
    arrivals_.clear();
}

void SimLine::GoSilent(int linkMs) {
    const std::int64_t now = NowUs();
    silentUntilUs_ = now + RealUsOfLinkMs(linkMs);
    ForgetInput();
    DropQueuedOutput(now);
}

void SimLine::Vanish() {
    if (vanished_.exchange(true)) return;
    port_->Close();
    {
        std::lock_guard lock(slaveMutex_);
        if (keptSlave_ >= 0) ::close(keptSlave_);
        keptSlave_ = -1;
    }
    DropQueuedOutput(NowUs());
    pendingFrames_.clear();
    timers_.clear();
    shared_.SetOutputIdle(true);
    Event(SimEvent::Type::Vanished, "device vanished");
}

// ============================================================ input

std::int64_t SimLine::ArrivalOfByte(std::uint64_t index) const {
    for (const ArrivalSpan& span : arrivals_)
        if (index >= span.first && index < span.first + span.count)
            return span.startUs + std::int64_t(index - span.first + 1) * span.byteUs;
    return NowUs();
}

void SimLine::ReadInput(std::int64_t now) {
    std::uint8_t buffer[4096];
    for (;;) {
        const int n = port_->ReadQueued(buffer, int(sizeof buffer));
        if (n == SerialPort::kGone) {
            Vanish();
            return;
        }
        if (n <= 0) return;
        Bytes chunk(buffer, buffer + n);
        if (now < silentUntilUs_) {
            shared_.RecordChunk(ByteChunk{Direction::FromProgram, TimePointOfUs(now), std::move(chunk)});
            continue;
        }
        const LineOptions& line = options_.Get().line;
        const bool paced = line.paced;
        CorruptBytes(chunk, line.corruptInRate, rngIn_);
        if (paced) {
            const std::int64_t byteUs = ByteTimeUs();
            const std::int64_t start = std::max(now, inLineFreeUs_);
            arrivals_.push_back(ArrivalSpan{fedBytes_, std::uint64_t(n), start, byteUs});
            inLineFreeUs_ = start + byteUs * n;
        }
        parser_.Feed(chunk.data(), chunk.size());
        fedBytes_ += std::uint64_t(n);
        lastInputUs_ = now;
        shared_.RecordChunk(ByteChunk{Direction::FromProgram, TimePointOfUs(now), std::move(chunk)});
        TakeFrames(paced, now);
    }
}

void SimLine::TakeFrames(bool paced, std::int64_t now) {
    while (auto frame = parser_.Next()) {
        const std::uint64_t consumed = fedBytes_ - parser_.Pending();
        const std::int64_t arrival = paced ? ArrivalOfByte(consumed - 1) : now;
        pendingFrames_.push_back(PendingFrame{std::move(*frame), arrival});
    }
    const std::uint64_t consumed = fedBytes_ - parser_.Pending();
    while (!arrivals_.empty() && arrivals_.front().first + arrivals_.front().count <= consumed) arrivals_.pop_front();
}

std::optional<SimLine::Received> SimLine::NextFrame(std::int64_t now) {
    while (!vanished_.load() && !pendingFrames_.empty() && pendingFrames_.front().arrivalUs <= now) {
        PendingFrame pending = std::move(pendingFrames_.front());
        pendingFrames_.pop_front();
        Received received{std::move(pending.frame), {}};
        const ParsedFrame& frame = received.frame;
        FrameRecord& record = received.record;
        record.direction = Direction::FromProgram;
        switch (frame.kind) {
            case ParsedFrame::Kind::Command: record.kind = FrameKind::Command; break;
            case ParsedFrame::Kind::Data: record.kind = FrameKind::Data; break;
            // A body too short for its CRC is a data frame the receiver cannot use either.
            case ParsedFrame::Kind::BadCrc:
            case ParsedFrame::Kind::Short: record.kind = FrameKind::BadCrc; break;
            case ParsedFrame::Kind::BadMagic: record.kind = FrameKind::BadMagic; break;
        }
        const bool isData = record.kind == FrameKind::Data || record.kind == FrameKind::BadCrc;
        record.code = isData ? std::uint16_t(kCodeDataMarker) : frame.code;
        record.payload = frame.payload;
        record.crc = frame.crcReceived;
        record.time = TimePointOfUs(pending.arrivalUs);
        record.baud = Baud();
        record.sent = true;
        record.sequence = shared_.RecordFrame(record);
        ++framesReceived_;
        answersNotBeforeUs_ = pending.arrivalUs;
        if (PlayFrameFaults(NowUs())) return received;
    }
    return std::nullopt;
}

// True when the frame goes on to the receiver's behaviour.
bool SimLine::PlayFrameFaults(std::int64_t now) {
    const LineOptions& line = options_.Get().line;
    auto at = [this](int n) { return n > 0 && framesReceived_ == std::size_t(n); };
    if (at(line.vanishAfterFrames)) {
        Vanish();
        return false;
    }
    if (at(line.pauseAfterFrames)) HoldOutputUntil(now + RealUsOfLinkMs(line.pauseMs));
    if (at(line.silentAfterFrames)) {
        silentUntilUs_ = now + RealUsOfLinkMs(line.silentMs);
        ForgetInput();
        DropQueuedOutput(now);
        return false;
    }
    return true;
}

void SimLine::Resync(std::int64_t now) {
    // A broken header leaves the parser waiting for bytes that will never
    // come; after a quiet spell, start afresh with the next byte.
    // Never sooner than kMinResyncUs of real time, however fast link time
    // runs: a frame written in one go can still reach us in pieces.
    const std::int64_t resyncUs = std::max(kMinResyncUs, RealUsOfLinkMs(options_.Get().line.resyncIdleMs));
    if (parser_.Pending() > 0 && now - lastInputUs_ >= resyncUs) {
        Anomaly("dropped " + std::to_string(parser_.Pending()) + " bytes of an unfinished frame");
        parser_.Clear();
        arrivals_.clear();
    }
}

void SimLine::EndSilence(std::int64_t now) {
    if (silentUntilUs_ != 0 && now >= silentUntilUs_) silentUntilUs_ = 0;
}

// ============================================================ output

std::uint64_t SimLine::RecordSent(const LineFrame& frame, std::int64_t now, bool dropped) {
    FrameRecord r;
    r.direction = Direction::ToProgram;
    r.kind = frame.kind;
    r.code = frame.code;
    r.payload = frame.payload;
    const Bytes& wire = frame.wire;
    if (frame.kind == FrameKind::Data && wire.size() >= std::size_t(kDataFrameOverhead) && !frame.flags.truncated)
        r.crc = ReadBigEndian32(wire.data() + wire.size() - kCrcSize);
    r.time = TimePointOfUs(now);
    r.baud = Baud();
    r.dropped = dropped;
    r.corrupted = frame.flags.corrupted;
    r.truncated = frame.flags.truncated;
    return shared_.RecordFrame(std::move(r));
}

void SimLine::QueueUnit(Bytes wire, std::uint64_t record) {
    OutUnit unit;
    unit.bytes = std::move(wire);
    unit.notBeforeUs = std::max(NowUs(), answersNotBeforeUs_);
    unit.record = record;
    out_.push_back(std::move(unit));
    shared_.SetOutputIdle(false);
}

// How many times a reply goes out under the random reply faults (0, 1 or 2);
// a burst of garbage may be queued in front of it.
int SimLine::ReplyCopies(const LineOptions& line) {
    int copies = 1;
    if (line.dropReplyRate > 0 && Chance(rngReply_) < line.dropReplyRate) copies = 0;
    else if (line.duplicateReplyRate > 0 && Chance(rngReply_) < line.duplicateReplyRate) copies = 2;
    return copies;
}

void SimLine::Queue(Send how, LineFrame frame) {
    const LineOptions& line = options_.Get().line;
    const std::int64_t now = NowUs();
    if (frame.flags.dropped || now < silentUntilUs_ || vanished_.load()) {
        RecordSent(frame, now, true);
        return;
    }
    const int copies = how == Send::Reply ? ReplyCopies(line) : 1;
    if (how == Send::Reply && copies > 0 && line.garbageRate > 0 && Chance(rngReply_) < line.garbageRate) {
        const int count = 1 + int(rngReply_() % std::uint64_t(std::max(1, line.garbageMaxBytes)));
        Bytes garbage(std::size_t(count), 0);
        for (auto& b : garbage) b = std::uint8_t(rngReply_());
        const std::uint64_t seq = RecordSent(LineFrame{FrameKind::Raw, 0, garbage, {}, frame.flags}, now, false);
        QueueUnit(std::move(garbage), seq);
    }
    if (copies == 0) {
        RecordSent(frame, now, true);
        return;
    }
    for (int i = 0; i < copies; ++i) {
        Bytes bytes = frame.wire;
        CorruptBytes(bytes, line.corruptOutRate, rngOut_);
        const std::uint64_t seq = RecordSent(frame, now, false);
        QueueUnit(std::move(bytes), seq);
    }
}

void SimLine::QueueOutgoing(Send how, const Outgoing& item) {
    switch (item.kind) {
        case Outgoing::Kind::Command: {
            const CommandFrame frame = EncodeCommandFrame(item.code);
            Queue(how, LineFrame{FrameKind::Command, item.code, {}, Bytes(frame.begin(), frame.end()), {}});
            break;
        }
        case Outgoing::Kind::Data:
            Queue(how, LineFrame{FrameKind::Data, kCodeDataMarker, item.bytes, DataFrame(item.bytes), {}});
            break;
        case Outgoing::Kind::Raw: Queue(how, LineFrame{FrameKind::Raw, 0, item.bytes, item.bytes, {}}); break;
    }
}

void SimLine::FinishSent(std::uint64_t sequence, std::int64_t now, bool dropped) {
    if (sequence == 0) return;
    shared_.FinishSentRecord(sequence, TimePointOfUs(now), Baud(), dropped);
}

void SimLine::DropQueuedOutput(std::int64_t now) {
    for (const OutUnit& unit : out_) FinishSent(unit.record, now, true);
    out_.clear();
    adapter_.Clear();
}

std::int64_t SimLine::Pump(std::int64_t now) {
    const std::int64_t latencyUs = std::int64_t(options_.Get().line.adapterLatencyMs) * 1000;
    const bool viaAdapter = latencyUs > 0 || !adapter_.Empty();
    const std::int64_t next = PumpLine(now, viaAdapter);
    if (!viaAdapter || vanished_.load()) return next;
    const std::int64_t due = adapter_.Flush(*port_, now, latencyUs);
    if (due == AdapterLatency::kGone) {
        Vanish();
        return kNothingDue;
    }
    if (out_.empty() && adapter_.Empty()) shared_.SetOutputIdle(true);
    return std::min(next, due);
}

// Writes what has crossed the line by `now`, to the terminal or into the adapter.
std::int64_t SimLine::PumpLine(std::int64_t now, bool viaAdapter) {
    if (out_.empty()) return kNothingDue;
    if (vanished_.load()) {
        DropQueuedOutput(now);
        return kNothingDue;
    }
    if (now < pausedUntilUs_) return pausedUntilUs_;
    const bool paced = options_.Get().line.paced;
    while (!out_.empty()) {
        OutUnit& unit = out_.front();
        if (unit.notBeforeUs > now) return unit.notBeforeUs;
        const std::size_t remaining = unit.bytes.size() - unit.pos;
        std::size_t allowed = remaining;
        std::int64_t byteUs = 0, startUs = 0;
        if (paced) {
            // A byte goes to the program once it would have fully crossed the line.
            byteUs = ByteTimeUs();
            startUs = std::max({lineFreeUs_, unit.notBeforeUs, pausedUntilUs_});
            const std::int64_t due = now > startUs ? (now - startUs) / byteUs : 0;
            allowed = std::size_t(std::min<std::int64_t>(due, std::int64_t(remaining)));
            if (allowed == 0)
                return startUs + byteUs * std::min<std::int64_t>(kPacedChunkBytes, std::int64_t(remaining));
        }
        int written = 0;
        if (viaAdapter) {
            adapter_.Take(unit.bytes.data() + unit.pos, allowed, paced ? startUs + byteUs : now, byteUs);
            written = int(allowed);
        } else if (remaining > 0) {
            written = port_->WriteSome(unit.bytes.data() + unit.pos, int(allowed));
        }
        if (written == SerialPort::kGone) {
            Vanish();
            return kNothingDue;
        }
        if (written > 0) {
            const auto from = unit.bytes.begin() + std::ptrdiff_t(unit.pos);
            shared_.RecordChunk(ByteChunk{Direction::ToProgram, TimePointOfUs(now), Bytes(from, from + written)});
            unit.pos += std::size_t(written);
            lineFreeUs_ = paced ? startUs + byteUs * written : now;
        }
        if (unit.pos < unit.bytes.size()) {
            if (std::size_t(written) < allowed) return now + kFullQueueRetryUs;
            const std::int64_t left = std::int64_t(unit.bytes.size() - unit.pos);
            return lineFreeUs_ + byteUs * std::min<std::int64_t>(kPacedChunkBytes, left);
        }
        FinishSent(unit.record, now, false);
        out_.pop_front();
    }
    if (adapter_.Empty()) shared_.SetOutputIdle(true);
    return kNothingDue;
}

}  // namespace tarven::sim
