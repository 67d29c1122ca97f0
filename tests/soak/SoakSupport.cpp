#include "SoakSupport.h"

#include <dirent.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <map>
#include <optional>
#include <sstream>

#include "Frames.h"

namespace tarven::soak {

using Clock = std::chrono::steady_clock;

// ============================================================ SoakNotifier

void SoakNotifier::OnLinkEvent(const LinkEvent& event) {
    const auto* finished = std::get_if<Finished>(&event);
    if (!finished) return;
    std::lock_guard lock(mutex_);
    if (result_ < 0) {
        result_ = finished->result;
        doubt_ = finished->doubt;
    }
    changed_.notify_all();
}

void SoakNotifier::ShowMessageBox(const std::string& text, std::stop_token) {
    std::lock_guard lock(mutex_);
    boxes_.push_back(text);
}

int SoakNotifier::WaitForFinish(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, limit, [&] { return result_ >= 0; });
    return result_;
}

int SoakNotifier::Result() const {
    std::lock_guard lock(mutex_);
    return result_;
}

UploadDoubt SoakNotifier::Doubt() const {
    std::lock_guard lock(mutex_);
    return doubt_;
}

std::vector<std::string> SoakNotifier::Boxes() const {
    std::lock_guard lock(mutex_);
    return boxes_;
}

// ============================================================ FrameLog

void FrameLog::NoteThread() {
    if (haveThread_) return;
    tid_ = pid_t(::syscall(SYS_gettid));
    thread_ = ::pthread_self();
    haveThread_ = true;
}

void FrameLog::Sent(const std::uint8_t* frame, std::size_t size) {
    std::lock_guard lock(mutex_);
    NoteThread();
    events_.push_back(Event{std::chrono::steady_clock::now(), true, Bytes(frame, frame + size), 0});
}

void FrameLog::Received(int result, std::uint32_t) {
    std::lock_guard lock(mutex_);
    NoteThread();
    events_.push_back(Event{std::chrono::steady_clock::now(), false, {}, result});
}

std::vector<FrameLog::Event> FrameLog::Events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<Bytes> FrameLog::SentFrames() const {
    std::vector<Bytes> frames;
    for (const Event& e : Events())
        if (e.sent) frames.push_back(e.frame);
    return frames;
}

std::vector<int> FrameLog::Results() const {
    std::vector<int> results;
    for (const Event& e : Events())
        if (!e.sent) results.push_back(e.result);
    return results;
}

std::vector<std::uint16_t> FrameLog::SentCodes() const {
    std::vector<std::uint16_t> codes;
    for (const Event& e : Events())
        if (e.sent && !e.IsData()) codes.push_back(e.Code());
    return codes;
}

std::size_t FrameLog::SentDataFrames() const {
    const auto events = Events();
    return std::size_t(std::count_if(events.begin(), events.end(), [](const Event& e) { return e.IsData(); }));
}

bool FrameLog::ReceivedAfterSending(std::uint16_t after, std::initializer_list<int> codes) const {
    bool armed = false;
    for (const Event& e : Events()) {
        if (e.sent && !e.IsData() && e.Code() == after) armed = true;
        if (armed && !e.sent && std::find(codes.begin(), codes.end(), e.result) != codes.end()) return true;
    }
    return false;
}

pid_t FrameLog::WorkerTid() const {
    std::lock_guard lock(mutex_);
    return tid_;
}

bool FrameLog::WorkerThread(pthread_t& thread) const {
    std::lock_guard lock(mutex_);
    thread = thread_;
    return haveThread_;
}

// ============================================================ images and blocks

Bytes RandomImage(std::size_t size, std::mt19937_64& rng) {
    Bytes image(size);
    for (auto& b : image) b = std::uint8_t(rng());
    return image;
}

std::vector<Bytes> ImageSlices(const Bytes& image) {
    std::vector<Bytes> slices;
    for (std::size_t at = 0; at < image.size(); at += kBlockSize) {
        const std::size_t end = std::min(image.size(), at + std::size_t(kBlockSize));
        slices.emplace_back(image.begin() + std::ptrdiff_t(at), image.begin() + std::ptrdiff_t(end));
    }
    return slices;
}

std::vector<Bytes> UploadPayloads(const Bytes& image) {
    std::vector<Bytes> payloads = ImageSlices(image);
    if (payloads.empty()) payloads.emplace_back();
    Bytes first(kFirstBlockSize, 0);
    WriteBigEndian32(first.data(), std::uint32_t(image.size()));
    std::copy(payloads[0].begin(), payloads[0].end(), first.begin() + kLengthHeaderSize);
    payloads[0] = std::move(first);
    return payloads;
}

std::vector<int> SliceSequence(const Bytes& bytes, const std::vector<Bytes>& slices, const Bytes& headerBlock) {
    std::vector<int> sequence;
    std::size_t at = 0;
    const auto matches = [&](const Bytes& s) {
        return !s.empty() && at + s.size() <= bytes.size() &&
               std::equal(s.begin(), s.end(), bytes.begin() + std::ptrdiff_t(at));
    };
    while (at < bytes.size()) {
        int found = 0;
        for (std::size_t k = 0; k < slices.size() && !found; ++k)
            if (matches(slices[k])) found = int(k) + 1;
        if (!found && at > 0 && matches(headerBlock)) {
            sequence.push_back(kHeaderBlock);
            at += headerBlock.size();
            continue;
        }
        if (!found) {
            // What is left may be the start of a slice (a record cut to its announced length).
            for (std::size_t k = 0; k < slices.size() && !found; ++k) {
                const Bytes& s = slices[k];
                if (bytes.size() - at < s.size() &&
                    std::equal(bytes.begin() + std::ptrdiff_t(at), bytes.end(), s.begin()))
                    found = -int(k) - 1;
            }
            sequence.push_back(found);
            break;
        }
        sequence.push_back(found);
        at += slices[std::size_t(found) - 1].size();
    }
    return sequence;
}

std::string Describe(const std::vector<int>& sequence) {
    std::ostringstream text;
    for (std::size_t i = 0; i < sequence.size(); ++i) {
        if (i) text << ' ';
        if (sequence[i] == kHeaderBlock) text << "1+h";
        else if (sequence[i] > 0) text << sequence[i];
        else if (sequence[i] < 0) text << -sequence[i] << "(part)";
        else text << "<torn>";
    }
    return text.str();
}

// ============================================================ wire audit

namespace {

bool MagicAt(const Bytes& bytes, std::size_t at) {
    return at + kFrameHeaderSize <= bytes.size() &&
           std::equal(kFrameMagic.begin(), kFrameMagic.end(), bytes.begin() + std::ptrdiff_t(at));
}

std::uint16_t CodeAt(const Bytes& bytes, std::size_t at) { return std::uint16_t(bytes[at + 8] << 8 | bytes[at + 9]); }

// A code the line's bit flips can have made of `sent`. A frame read at an
// offset a purge or a lost partial frame has shifted shows some other frame's
// code instead, usually many bits away: that is no mutation.
bool FlippedFrom(std::uint16_t sent, std::uint16_t delivered) {
    return sent != delivered && std::popcount(unsigned(sent ^ delivered)) <= 2;
}

std::size_t WireSize(const sim::FrameRecord& f) {
    switch (f.kind) {
        case sim::FrameKind::Command: return std::size_t(kCommandFrameSize);
        case sim::FrameKind::Data:
        case sim::FrameKind::BadCrc:
            if (f.truncated) return std::size_t(kFrameHeaderSize) + (f.payload.size() + kCrcSize) / 2;
            return f.payload.size() + std::size_t(kDataFrameOverhead);
        default: return f.payload.size();
    }
}

// Whether the receiver's frame `f` begins at `at` of the bytes it wrote: the
// garbage it sends as it is; a frame by its magic, where the line may have
// flipped a bit or two.
bool StartsHere(const Bytes& bytes, std::size_t at, const sim::FrameRecord& f) {
    if (f.kind == sim::FrameKind::Raw)
        return at + f.payload.size() <= bytes.size() &&
               std::equal(f.payload.begin(), f.payload.end(), bytes.begin() + std::ptrdiff_t(at));
    if (at + kFrameMagic.size() > bytes.size()) return false;
    int differ = 0;
    for (std::size_t i = 0; i < kFrameMagic.size(); ++i) differ += bytes[at + i] != kFrameMagic[i];
    return differ <= 2;
}

// A data frame that arrived whole with a matching CRC: its payload, else nothing.
std::optional<Bytes> IntactPayload(const Bytes& bytes, std::size_t at, std::size_t size) {
    if (!MagicAt(bytes, at) || CodeAt(bytes, at) != kCodeDataMarker || at + size > bytes.size()) return std::nullopt;
    const std::size_t body = std::size_t(bytes[at + 10] << 8 | bytes[at + 11]);
    if (body + kFrameHeaderSize != size || body < std::size_t(kCrcSize)) return std::nullopt;
    const std::uint8_t* p = bytes.data() + at + kFrameHeaderSize;
    const std::size_t n = body - kCrcSize;
    if (ReadBigEndian32(p + n) != Crc32(p, std::int32_t(n))) return std::nullopt;
    return Bytes(p, p + n);
}

}  // namespace

WireAudit AuditWire(const sim::SimReceiver& sim, const FrameLog& log) {
    WireAudit audit;

    // Receiver to program. Records first: a record marked sent has all its
    // bytes in the byte log taken after it.
    const std::vector<sim::FrameRecord> all = sim.Frames();
    std::vector<sim::FrameRecord> records;
    for (const auto& f : all)
        if (f.direction == sim::Direction::ToProgram) records.push_back(f);
    const Bytes out = sim.SentBytes();
    std::size_t at = 0;
    std::map<Bytes, int> delivered;
    std::map<std::uint64_t, std::uint16_t> replyCodes;  // sequence -> code as delivered intact
    bool inFlight = false;
    std::size_t mayHaveLeftInPart = 0;
    for (const sim::FrameRecord& f : records) {
        // A reply dropped by a fault never left; one dropped by silence or a
        // vanishing device may have left in part: its first bytes precede the
        // next frame that did leave.
        if (f.dropped) {
            mayHaveLeftInPart = std::max(mayHaveLeftInPart, WireSize(f));
            continue;
        }
        if (!f.sent) {
            inFlight = true;  // still on its way when the run ended
            break;
        }
        const std::size_t size = WireSize(f);
        if (!StartsHere(out, at, f)) {
            std::size_t skip = 1;
            while (skip < mayHaveLeftInPart && !StartsHere(out, at + skip, f)) ++skip;
            if (skip < mayHaveLeftInPart) at += skip;
            else audit.toProgramComplete = false;
        }
        mayHaveLeftInPart = 0;
        if (at + size > out.size()) {
            audit.toProgramComplete = false;
            break;
        }
        if (f.kind == sim::FrameKind::Command && MagicAt(out, at)) {
            const std::uint16_t code = CodeAt(out, at);
            if (FlippedFrom(f.code, code)) audit.toProgram.push_back({f.code, code});
            replyCodes[f.sequence] = code;
        } else if ((f.kind == sim::FrameKind::Data || f.kind == sim::FrameKind::BadCrc) && MagicAt(out, at)) {
            const std::uint16_t code = CodeAt(out, at);
            if (code != kCodeDataMarker) {
                if (FlippedFrom(kCodeDataMarker, code)) audit.toProgram.push_back({kCodeDataMarker, code});
            } else if (auto payload = IntactPayload(out, at, size)) {
                if (++delivered[*payload] == 2) ++audit.dataFramesDeliveredTwice;
            }
        }
        at += size;
    }
    if (!inFlight && at != out.size()) audit.toProgramComplete = false;

    // Which frame each reply answers. A data frame or an end code from the
    // program gets one reply queued at once (the first command after it);
    // further copies are duplicates, and what follows a repeat request (1)
    // from the program is a re-send of the last reply.
    std::uint64_t latestFrame = 0;    // sequence of the program's latest data frame or end code
    std::uint64_t answeredFrame = 0;  // the frame the receiver's last reply answers
    std::uint64_t context = 0;        // the program's frame the next replies respond to
    bool contextIsRepeat = false;
    bool firstReplySeen = false;
    std::map<std::uint64_t, bool> firstCopyArrived;  // frame -> its first reply arrived intact
    for (const auto& f : all) {
        if (f.direction == sim::Direction::FromProgram) {
            if (f.kind == sim::FrameKind::Data || f.kind == sim::FrameKind::BadCrc || f.IsCommand(kCodeEndOfImage)) {
                latestFrame = context = f.sequence;
                contextIsRepeat = false;
                firstReplySeen = false;
            } else if (f.IsCommand(kCodeRepeat)) {
                contextIsRepeat = true;
            }
            continue;
        }
        if (f.kind != sim::FrameKind::Command) continue;
        const auto reply = replyCodes.find(f.sequence);
        const bool intact = reply != replyCodes.end();
        const bool answer = intact && (reply->second == kCodeAck || reply->second == kCodeRepeat ||
                                       reply->second == kCodeSpeedChange || reply->second == kCodeUploadDone);
        if (!contextIsRepeat && context != 0 && !firstReplySeen) {
            firstReplySeen = true;
            answeredFrame = context;
            firstCopyArrived[context] = answer;
            continue;
        }
        // A duplicate, or a re-send of the reply to `answeredFrame`.
        if (answer && (answeredFrame != latestFrame || firstCopyArrived[answeredFrame])) audit.staleReplies = true;
        if (answer) firstCopyArrived[answeredFrame] = true;
    }

    // Program to receiver: each command the receiver took, against the frame
    // the engine had written last by the time it arrived. (Matching by time,
    // not by offset, survives bytes a purge took before the receiver read them.)
    const std::vector<FrameLog::Event> events = log.Events();
    for (const auto& f : all) {
        if (f.direction != sim::Direction::FromProgram || f.kind != sim::FrameKind::Command) continue;
        const FrameLog::Event* last = nullptr;
        for (const FrameLog::Event& e : events) {
            if (e.time > f.time) break;
            if (e.sent) last = &e;
        }
        if (last && FlippedFrom(last->Code(), f.code)) audit.toReceiver.push_back({last->Code(), f.code});
    }
    return audit;
}

std::string Describe(const std::vector<Mutation>& mutations) {
    std::ostringstream text;
    for (std::size_t i = 0; i < mutations.size(); ++i)
        text << (i ? ", " : "") << mutations[i].sent << "->" << mutations[i].delivered;
    return text.str();
}

// ============================================================ timeline

namespace {

std::string ResultName(int result) {
    switch (result) {
        case kRecvDataFrame: return "data";
        case kRecvNoMemory: return "no-memory";
        case kRecvBadCrc: return "bad-crc";
        case kRecvShortFrame: return "short";
        case kRecvTimeout: return "timeout";
        case kRecvBadMagic: return "bad-magic";
        case kRecvTooLarge: return "too-large";
        default: return "code " + std::to_string(result);
    }
}

}  // namespace

std::string Timeline(const sim::SimReceiver& sim, const FrameLog& log) {
    struct Line {
        std::chrono::steady_clock::time_point time;
        std::string text;
    };
    std::vector<Line> lines;
    for (const FrameLog::Event& e : log.Events()) {
        std::string text;
        if (e.sent && e.IsData())
            text = "PC  sends data " + std::to_string(e.frame.size() - kDataFrameOverhead) + " B, CRC " +
                   std::to_string(ReadBigEndian32(e.frame.data() + e.frame.size() - kCrcSize));
        else if (e.sent) text = "PC  sends " + std::to_string(e.Code());
        else text = "PC  got " + ResultName(e.result);
        lines.push_back({e.time, text});
    }
    for (const sim::FrameRecord& f : sim.Frames()) {
        std::string text = f.direction == sim::Direction::FromProgram ? "RX  got " : "RX  sends ";
        switch (f.kind) {
            case sim::FrameKind::Command: text += std::to_string(f.code); break;
            case sim::FrameKind::Data:
                text += "data " + std::to_string(f.payload.size()) + " B, CRC " + std::to_string(f.crc);
                break;
            case sim::FrameKind::BadCrc: text += "data with a bad CRC"; break;
            case sim::FrameKind::BadMagic: text += "12 bytes, bad magic"; break;
            case sim::FrameKind::Raw: text += std::to_string(f.payload.size()) + " raw bytes"; break;
        }
        if (f.direction == sim::Direction::ToProgram && f.dropped) text += " (dropped)";
        lines.push_back({f.time, text});
    }
    for (const sim::SimEvent& e : sim.Events()) lines.push_back({e.time, "RX  event: " + e.text});
    std::stable_sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) { return a.time < b.time; });
    std::ostringstream out;
    const auto start = lines.empty() ? std::chrono::steady_clock::time_point{} : lines.front().time;
    for (const Line& l : lines)
        out << std::setw(9) << std::fixed << std::setprecision(2)
            << std::chrono::duration<double, std::milli>(l.time - start).count() << " ms  " << l.text << '\n';
    return out.str();
}

// ============================================================ process measures

int OpenDescriptors() {
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir) return -1;
    int count = 0;
    while (const dirent* entry = ::readdir(dir))
        if (entry->d_name[0] != '.') ++count;
    ::closedir(dir);
    return count - 1;  // the directory's own descriptor
}

double ThreadCpuSecondsFromProc(pid_t tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The command name may hold spaces: fields are counted after its closing parenthesis.
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && (fields >> field); ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

double ThreadCpuSeconds(pthread_t thread) {
    clockid_t clock;
    if (::pthread_getcpuclockid(thread, &clock) != 0) return -1;
    timespec ts{};
    if (::clock_gettime(clock, &ts) != 0) return -1;
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double ProcessCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double SoakScale() {
    const char* text = std::getenv("TARVEN_SOAK_SCALE");
    if (!text || !*text) return 1.0;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    return (end != text && value > 0 && std::isfinite(value)) ? value : 1.0;
}

int Scaled(int runs) { return std::max(1, int(std::lround(runs * SoakScale()))); }

}  // namespace tarven::soak
