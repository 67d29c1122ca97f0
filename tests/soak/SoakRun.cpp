#include "SoakRun.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <map>
#include <mutex>
#include <ostream>
#include <sstream>
#include <thread>

#include "Frames.h"
#include "LinkClock.h"
#include "LinkEngine.h"
#include "LiveTransfer.h"
#include "PortAccess.h"
#include "SoakSupport.h"

namespace tarven::soak {

const char* Name(Transfer transfer) { return transfer == Transfer::Upload ? "upload" : "read-back"; }

const char* Name(Outcome outcome) {
    switch (outcome) {
        case Outcome::Identical: return "identical";
        case Outcome::LimitDifferent: return "limit-diff";
        case Outcome::Different: return "DIFFERENT";
        case Outcome::Failed: return "result0";
        case Outcome::Mismatch: return "result2";
        case Outcome::LimitHang: return "limit-hang";
        case Outcome::Hang: return "HANG";
        case Outcome::Count: break;
    }
    return "?";
}

bool IsFault(Outcome outcome) { return outcome == Outcome::Different || outcome == Outcome::Hang; }

Timing TimingOf(Transfer transfer) {
    // The read-back gives a frame only 800 ms of idle line; at 57,600 baud a
    // 4 KiB frame alone takes 714 ms of it, so that direction runs the link
    // clock slower to keep scheduling jitter out of its margin.
    if (transfer == Transfer::Upload) return Timing{50.0, 90000, 1000};
    return Timing{25.0, 120000, 1000};
}

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Known limits of the protocol as designed. Each is a fault no side can see:
// a run that shows one is counted apart from a real failure.
const char* const kEndCodesUnanswered = "end codes unanswered four times count as success";
const char* const kAnswerAltered = "a reply code altered on the line into another valid code";
const char* const kCommandAltered = "a PC command altered on the line into another valid code";
const char* const kStaleReply =
    "a re-sent or duplicated reply reached the PC and was taken for its latest frame's (no block numbers)";
const char* const kBlockTwice = "a block delivered twice is stored twice (no block numbers)";
const char* const kPreambleWait = "the answer to the preamble was lost: the upload waits for it without asking again";
const char* const kReadyLost =
    "the ready code was lost: the request phase ignores the block the receiver re-sends, so it never asks again";
const char* const kReceiverGone = "the receiver stopped answering or vanished: a transfer has no overall limit";
const char* const kNothingToRepeat =
    "no block reached the receiver whole and it has no earlier answer to repeat: the upload asks for a repeat forever";

struct Setup {
    std::int32_t kind;
    Bytes image;
    int frames;  // frames the program sends in a clean run
};

Setup SetupOf(Transfer transfer, std::uint64_t seed, std::mt19937_64& rng) {
    static const std::int32_t kUploadKinds[] = {KindFactoryData, KindSoftware, KindChip};
    Setup s;
    s.kind = transfer == Transfer::Upload ? kUploadKinds[seed % 3] : KindFactoryData;
    std::size_t size = 16384 + std::size_t(rng() % 49152);
    if (rng() % 4 == 0) size -= size % kBlockSize;  // whole blocks only, now and then
    s.image = RandomImage(size, rng);
    const int blocks = int((size + kBlockSize - 1) / kBlockSize);
    if (transfer == Transfer::Upload) s.frames = (s.kind == KindChip ? 1 : 2) + blocks + 1;
    else s.frames = 1 + blocks + 1;
    return s;
}

std::uint16_t ExpectedStartCode(std::int32_t kind) {
    static constexpr std::uint16_t kLevel0StartCodes[] = {30, 49, 55, 18, 34};
    if (kind > KindSoftwareDataLoader) return kCodeChipStart;
    return kLevel0StartCodes[std::size_t(kind - KindFactoryData)];
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The data payloads the engine sent, each numbered by the upload block it is;
// 0 for a payload that is no block of the image.
std::vector<int> EngineBlocks(const FrameLog& log, const std::vector<Bytes>& payloads) {
    std::vector<int> blocks;
    for (const Bytes& frame : log.SentFrames()) {
        if (frame.size() <= std::size_t(kCommandFrameSize)) continue;
        const Bytes payload(frame.begin() + kFrameHeaderSize, frame.end() - kCrcSize);
        int found = 0;
        for (std::size_t k = 0; k < payloads.size() && !found; ++k)
            if (payloads[k] == payload) found = int(k) + 1;
        blocks.push_back(found);
    }
    return blocks;
}

void AddLimit(std::vector<std::string>& limits, const char* limit) {
    if (std::find(limits.begin(), limits.end(), limit) == limits.end()) limits.push_back(limit);
}

bool Any(const std::vector<Mutation>& mutations, std::initializer_list<std::uint16_t> codes) {
    return std::any_of(mutations.begin(), mutations.end(), [&](const Mutation& m) {
        return std::find(codes.begin(), codes.end(), m.delivered) != codes.end();
    });
}

// Real milliseconds since the receiver last wrote to the line, or since `start`.
double ReceiverQuietMs(const sim::SimReceiver& sim, Clock::time_point start) {
    Clock::time_point last = start;
    for (const sim::ByteChunk& chunk : sim.ByteLog())
        if (chunk.direction == sim::Direction::ToProgram) last = std::max(last, chunk.time);
    return std::chrono::duration<double, std::milli>(Clock::now() - last).count();
}

// Real milliseconds since the engine last wrote a frame, or since `start`.
double PcQuietMs(const FrameLog& log, Clock::time_point start) {
    Clock::time_point last = start;
    for (const FrameLog::Event& e : log.Events())
        if (e.sent) last = std::max(last, e.time);
    return std::chrono::duration<double, std::milli>(Clock::now() - last).count();
}

}  // namespace

RunReport SoakRun(Transfer transfer, const Profile& profile, std::uint64_t seed) {
    RunReport report;
    Timing timing = TimingOf(transfer);
    if (profile.speedUp > 0) timing.speedUp = profile.speedUp;
    report.speedUp = timing.speedUp;
    std::mt19937_64 rng(seed * 0x9E3779B97F4A7C15ull + (transfer == Transfer::Upload ? 1 : 2));
    const Setup setup = SetupOf(transfer, seed, rng);
    const Bytes& image = setup.image;

    sim::SimOptions options;
    options.line.paced = true;
    options.line.seed = seed;
    options.readBack.serveLastUpload = transfer == Transfer::Upload;  // what the check reads back
    profile.apply(options, rng, setup.frames);

    const int descriptorsBefore = OpenDescriptors();
    LinkTime().SetSpeedUp(timing.speedUp);
    {
        LiveTransfer run(transfer, options, image, setup.kind);
        sim::SimReceiver& sim = run.Sim();
        const FrameLog& log = run.log;
        if (!run.Opened()) report.problems.push_back("the simulator's device did not open");

        const auto start = Clock::now();
        if (!run.Start()) report.problems.push_back("no worker started");
        const int boundMs = LinkTime().RealMs(timing.boundLinkMs) + timing.marginMs;
        report.result = run.notifier.WaitForFinish(milliseconds(boundMs));
        report.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const bool watchdog = report.result < 0;
        // Over the last third of the bound: has the receiver said anything, and
        // has the PC still been asking (a silent PC is no receiver's fault)?
        const double window = timing.boundLinkMs / 3.0;
        const bool receiverQuiet = ReceiverQuietMs(sim, start) * timing.speedUp >= window;
        bool pcAsking = PcQuietMs(run.log, start) * timing.speedUp < window;

        report.stopMs = run.Stop();
        if (transfer == Transfer::Upload) report.doubt = run.notifier.Doubt();
        if (run.Running()) report.problems.push_back("worker still running after its stop");
        run.TearDown();
        if (!run.notifier.Boxes().empty()) report.problems.push_back("message box: " + run.notifier.Boxes().front());

        const std::string file = run.Arrived();
        auto uploadDelivered = [&] {
            const auto uploads = sim.Uploads();
            if (uploads.empty()) return false;
            const sim::UploadRecord& last = uploads.back();
            return last.complete && !last.aborted && last.startCode == ExpectedStartCode(setup.kind) &&
                   last.image == image;
        };
        if (transfer == Transfer::Upload && report.result == kResultSuccess && !uploadDelivered()) {
            // Success came while frames were still on their way (an acknowledgement
            // meant for an earlier block taken for the end code's): let the line
            // drain, then judge what the receiver ends up with.
            std::size_t written = 0;
            for (const Bytes& f : log.SentFrames()) written += f.size();
            sim.WaitFor([&] { return sim.ReceivedBytes().size() >= written; }, milliseconds(2000));
            for (std::size_t frames = 0, same = 0; same < 5; std::this_thread::sleep_for(milliseconds(10))) {
                const std::size_t now = sim.ReceivedFrames().size();
                same = now == frames ? same + 1 : 0;
                frames = now;
            }
            report.earlySuccess = uploadDelivered();
        }

        // The engine's teardown must have let go of the device.
        if (!sim.Vanished()) {
            PortHandle again = OpenDevice(sim.DevicePath(), DefaultPortSettings());
            if (!again) report.problems.push_back("the device cannot be opened again after the teardown");
        }

        // ---------------------------------------------------------- what reached the far side
        const WireAudit audit = AuditWire(sim, log);
        const std::vector<std::uint16_t> codes = log.SentCodes();
        const std::vector<int> results = log.Results();
        bool identical = false;
        std::ostringstream detail;

        if (transfer == Transfer::Upload) {
            const std::vector<Bytes> payloads = UploadPayloads(image);
            const std::vector<int> sent = EngineBlocks(log, payloads);
            // Whatever the line does, the engine sends only whole blocks of the
            // image, starting with the first, each one again or the next.
            int previous = 0;
            for (int block : sent) {
                if (block == 0 || block < previous || block > previous + 1) {
                    report.problems.push_back("engine sent blocks " + Describe(sent) + " of " +
                                              std::to_string(payloads.size()));
                    break;
                }
                previous = block;
            }
            const auto uploads = sim.Uploads();
            int acceptedBlocks = 0;
            for (const auto& u : uploads) acceptedBlocks += u.blocks;
            if (!uploads.empty()) {
                const sim::UploadRecord& last = uploads.back();
                identical = uploadDelivered();
                detail << "receiver: start " << last.startCode << (last.complete ? " complete" : " incomplete")
                       << (last.aborted ? " aborted" : "") << ", blocks "
                       << Describe(SliceSequence(last.image, ImageSlices(image), UploadPayloads(image)[0])) << " of "
                       << ImageSlices(image).size();
            } else {
                detail << "receiver: no upload";
            }
            // Success with no acknowledgement after the end code went out: the
            // four unanswered end codes (some of which may not have left at all).
            if (report.result == kResultSuccess &&
                !log.ReceivedAfterSending(kCodeEndOfImage, {kCodeAck, kCodeUploadDone}))
                AddLimit(report.limits, kEndCodesUnanswered);
            if (Any(audit.toProgram, {kCodeAck, kCodeRepeat, kCodeSpeedChange, kCodeUploadDone}))
                AddLimit(report.limits, kAnswerAltered);
            if (!audit.toReceiver.empty()) AddLimit(report.limits, kCommandAltered);
            if (audit.staleReplies) AddLimit(report.limits, kStaleReply);
            if (watchdog &&
                std::none_of(codes.begin(), codes.end(), [](std::uint16_t c) { return c != kCodeUploadPreamble; }) &&
                std::find(results.begin(), results.end(), kCodeStandBy) == results.end())
                AddLimit(report.limits, kPreambleWait);
            if (watchdog && acceptedBlocks == 0 && receiverQuiet && pcAsking && log.SentDataFrames() > 0)
                AddLimit(report.limits, kNothingToRepeat);
        } else {
            const Bytes got = ReadFile(file);
            const std::vector<int> slices = SliceSequence(got, ImageSlices(image), UploadPayloads(image)[0]);
            // CRC-checked frames only reach the file: it holds whole blocks of the image, nothing torn,
            // unless a command altered on the way made the receiver answer with another exchange's frame.
            if (!slices.empty() && slices.back() <= 0 && audit.toReceiver.empty())
                report.problems.push_back("file holds bytes that are no whole block: " + Describe(slices));
            identical = got == image;
            detail << "file: blocks " << Describe(slices) << " of " << ImageSlices(image).size();
            if (Any(audit.toProgram, {kCodeRepeat, kCodeEndOfImage, kCodeEndOfImageAlt}))
                AddLimit(report.limits, kAnswerAltered);
            if (!audit.toReceiver.empty()) AddLimit(report.limits, kCommandAltered);
            if (audit.dataFramesDeliveredTwice > 0) AddLimit(report.limits, kBlockTwice);
            // Stuck asking while the receiver, which did start, keeps sending
            // frames that the request phase ignores.
            const bool requesting = std::find(results.begin(), results.end(), kCodeReadBackReady) == results.end();
            if (watchdog && requesting && !sim.ReadBacks().empty() && !receiverQuiet)
                AddLimit(report.limits, kReadyLost);
            // In the data phase the PC answers silence with silence, as designed.
            if (watchdog && !requesting && receiverQuiet) pcAsking = true;
        }
        // The receiver is gone, or silent while the PC kept asking.
        if (watchdog && (sim.Vanished() || (receiverQuiet && pcAsking))) AddLimit(report.limits, kReceiverGone);
        if (!audit.toProgram.empty()) detail << "; to PC altered " << Describe(audit.toProgram);
        if (!audit.toReceiver.empty()) detail << "; to receiver altered " << Describe(audit.toReceiver);
        if (!audit.toProgramComplete) detail << "; line audit partial";
        detail << "; PC sent " << log.SentDataFrames() << " data frames, codes";
        for (std::size_t i = 0; i < codes.size() && i < 24; ++i) detail << ' ' << codes[i];
        if (codes.size() > 24) detail << " ...";
        report.detail = detail.str();

        // ---------------------------------------------------------- the verdict
        if (watchdog) {
            // Only the limits that leave a run waiting explain a stop by the watchdog.
            std::vector<std::string> waiting;
            for (const auto& l : report.limits)
                if (l == kPreambleWait || l == kReadyLost || l == kReceiverGone || l == kNothingToRepeat)
                    waiting.push_back(l);
            report.outcome = waiting.empty() ? Outcome::Hang : Outcome::LimitHang;
            if (!waiting.empty()) report.limits = waiting;
        } else if (report.result == kResultSuccess) {
            if (identical) report.outcome = Outcome::Identical;
            else report.outcome = report.limits.empty() ? Outcome::Different : Outcome::LimitDifferent;
        } else if (report.result == kResultLengthMismatch) {
            report.outcome = Outcome::Mismatch;
        } else {
            report.outcome = Outcome::Failed;
        }
        // Kept for failing runs, and for every run other than an identical one on request.
        report.receiverHoldsImage = sim.ReadBackImage() == image;
        // An acknowledgement the receiver never meant: an answer altered into
        // one, or a reply the line said twice. Neither leaves a trace the PC
        // could doubt (the protocol numbers no blocks and checks no commands).
        report.invisibleAck = Any(audit.toProgram, {kCodeAck}) || audit.staleReplies;
        // The technician's check, on the same line with the same faults, for
        // the kind whose read-back the receiver starts on request.
        if (transfer == Transfer::Upload && report.result == kResultSuccess && setup.kind == KindFactoryData &&
            !sim.Vanished()) {
            const Timing rb = TimingOf(Transfer::ReadBack);
            report.verify = VerifyByReadBack(sim, image, setup.kind, rb.speedUp, rb.boundLinkMs);
            if (report.verify == VerifyVerdict::Identical && !identical)
                report.problems.push_back("the check read back the image the receiver does not hold");
        }
        const bool wanted = std::getenv("TARVEN_SOAK_TIMELINES") && report.outcome != Outcome::Identical;
        if (IsFault(report.outcome) || !report.problems.empty() || wanted) report.timeline = Timeline(sim, log);
    }
    LinkTime().SetSpeedUp(1.0);
    // The simulator and the engine are gone: every descriptor they held is closed.
    const int descriptorsAfter = OpenDescriptors();
    if (descriptorsAfter != descriptorsBefore)
        report.problems.push_back("open descriptors " + std::to_string(descriptorsBefore) + " before the run, " +
                                  std::to_string(descriptorsAfter) + " after");
    return report;
}

bool DeliveredDifferent(const RunReport& report) {
    return report.result == kResultSuccess &&
           (report.outcome == Outcome::Different || report.outcome == Outcome::LimitDifferent);
}

}  // namespace tarven::soak
