// Instruments for the fault soak: what the worker posted and put on the line,
// how an image splits into the blocks both transfers carry, what the line did
// to the frames of each side, and the measures of a torn-down run.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <pthread.h>
#include <random>
#include <string>
#include <vector>

#include "LinkEngine.h"
#include "SimReceiver.h"

namespace tarven::soak {

using Bytes = std::vector<std::uint8_t>;

// ---------------------------------------------------------------- the worker's side

// Collects what the worker posts; the finishing event can be waited for.
class SoakNotifier final : public LinkNotifier {
public:
    void OnLinkEvent(const LinkEvent& event) override;
    void ShowMessageBox(const std::string& text, std::stop_token) override;
    // The finishing event's result, or -1 when none arrives within `limit`.
    int WaitForFinish(std::chrono::milliseconds limit);
    int Result() const;
    // The finishing event's doubt; None until it came.
    UploadDoubt Doubt() const;
    std::vector<std::string> Boxes() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int result_ = -1;
    UploadDoubt doubt_ = UploadDoubt::None;
    std::vector<std::string> boxes_;
};

// Every frame the engine wrote and every result its receive gave, in order,
// and which thread the worker is (for its CPU clock).
class FrameLog final : public FrameTracer {
public:
    struct Event {
        std::chrono::steady_clock::time_point time;
        bool sent;       // a frame written, else a receive's result
        Bytes frame;     // sent: the whole frame
        int result = 0;  // received: a code, 48, or a negative local result
        std::uint16_t Code() const { return std::uint16_t(frame[8] << 8 | frame[9]); }
        bool IsData() const { return sent && Code() == kCodeDataMarker; }
    };

    void Sent(const std::uint8_t* frame, std::size_t size) override;
    void Received(int result, std::uint32_t payloadLength) override;

    std::vector<Event> Events() const;
    std::vector<Bytes> SentFrames() const;
    std::vector<int> Results() const;
    // Command codes the engine sent, in order (data frames left out).
    std::vector<std::uint16_t> SentCodes() const;
    std::size_t SentDataFrames() const;
    // True when the engine received `codes` at some point after it first sent `after`.
    bool ReceivedAfterSending(std::uint16_t after, std::initializer_list<int> codes) const;
    pid_t WorkerTid() const;
    bool WorkerThread(pthread_t& thread) const;

private:
    void NoteThread();
    mutable std::mutex mutex_;
    std::vector<Event> events_;
    pid_t tid_ = 0;
    pthread_t thread_{};
    bool haveThread_ = false;
};

// ---------------------------------------------------------------- images and blocks

Bytes RandomImage(std::size_t size, std::mt19937_64& rng);

// Image bytes [4096 (k - 1), min(4096 k, L)) for block k = 1, 2, ...: the slices
// that both the upload's frames and the read-back's frames carry (the first
// frame adds the 4-byte length header in front).
std::vector<Bytes> ImageSlices(const Bytes& image);

// The upload's data frame payloads as the engine must build them: block 1 is
// the length header and 4,096 image bytes (zeros past a short image's end).
std::vector<Bytes> UploadPayloads(const Bytes& image);

// Splits `bytes` into whole slices of the image, front to back. Returns the
// 1-based slice numbers; at the end, -k marks the start of slice k and 0
// bytes that are no slice at all.
// `headerBlock`, when not empty, also counts as slice 1 (written as 1+h): a
// read-back that takes its first frame twice stores its length header the
// second time, as it stores every later payload whole.
std::vector<int> SliceSequence(const Bytes& bytes, const std::vector<Bytes>& slices, const Bytes& headerBlock = {});
std::string Describe(const std::vector<int>& sequence);
inline constexpr int kHeaderBlock = 1000000;  // in a slice sequence: slice 1 with its length header

// Both sides' frames in time order, one line each, for the failure log of a run.
std::string Timeline(const sim::SimReceiver& sim, const FrameLog& log);

// ---------------------------------------------------------------- what the line did

struct Mutation {
    std::uint16_t sent;       // the code as its side sent it (48 for a data frame)
    std::uint16_t delivered;  // what arrived with an intact magic
};

struct WireAudit {
    // Frames whose code the line turned into another code with an intact magic.
    std::vector<Mutation> toProgram;
    std::vector<Mutation> toReceiver;
    // A reply the receiver sent again (a duplicate, or a re-send on the
    // program's repeat request) reached the program intact while it was not
    // the answer to the program's latest frame: either that frame went
    // unanswered (the re-sent reply belongs to the one before), or the first
    // copy had arrived too. The program takes it as the answer to the frame
    // it sent last; no block number tells them apart.
    bool staleReplies = false;
    // Data frames that reached the program intact a second time with the same payload.
    int dataFramesDeliveredTwice = 0;
    // False where the receiver's frames could not all be matched to the bytes
    // it wrote: mutations past that point may go unseen.
    bool toProgramComplete = true;
};

// The simulator's frames matched against the bytes it wrote, and the
// commands it took against the frames the engine wrote.
WireAudit AuditWire(const sim::SimReceiver& sim, const FrameLog& log);
std::string Describe(const std::vector<Mutation>& mutations);

// ---------------------------------------------------------------- process measures

// Open file descriptors of this process.
int OpenDescriptors();

// CPU time a thread of this process has used, from /proc/self/task/<tid>/stat
// (clock ticks turned into seconds).
double ThreadCpuSecondsFromProc(pid_t tid);
// The same from the thread's own CPU clock, to the nanosecond.
double ThreadCpuSeconds(pthread_t thread);
double ProcessCpuSeconds();

// Scale of the soak: TARVEN_SOAK_SCALE (a positive number), 1 by default.
double SoakScale();
int Scaled(int runs);

}  // namespace tarven::soak
