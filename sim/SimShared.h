// What the simulated receiver's callers and its line thread share: the
// options, the read-back image, the records, and work posted to the thread.
// Thread ownership: shared by every thread; every member is under its one lock.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "SimOptions.h"
#include "SimRecords.h"

namespace tarven::sim {

class SimShared {
public:
    explicit SimShared(SimOptions options) : options_(std::move(options)) {}

    // ------------------------------------------------ options and the read-back image
    SimOptions Options() const;
    void UpdateOptions(const std::function<void(SimOptions&)>& change);
    // Bumped by every change of the options, so the line thread copies them
    // only when they changed.
    std::uint64_t OptionsVersion() const { return optionsVersion_.load(std::memory_order_acquire); }
    void SetReadBackImage(Bytes image);
    // What a read-back serves now: the image set, the last upload kept, or a pattern.
    Bytes CurrentReadBackImage() const;

    // ------------------------------------------------ work for the line thread
    void Post(std::function<void()> fn);
    std::vector<std::function<void()>> TakePosted();
    void SetOutputIdle(bool idle);
    bool SentAll() const;  // nothing queued, nothing posted

    // ------------------------------------------------ recording (the line thread)
    std::uint64_t RecordFrame(FrameRecord record);  // returns its sequence
    void FinishSentRecord(std::uint64_t sequence, Clock::time_point time, std::uint32_t baud, bool dropped);
    void RecordChunk(ByteChunk chunk);
    void RecordEvent(const SimEvent& event);
    void CountVersionAnswer();
    void BeginUpload(UploadRecord record);
    void WithUpload(const std::function<void(UploadRecord&)>& fn);
    void BeginReadBack(ReadBackRecord record);
    void WithReadBack(const std::function<void(ReadBackRecord&)>& fn);

    // ------------------------------------------------ snapshots (any thread)
    std::vector<FrameRecord> Frames(std::optional<Direction> only = std::nullopt) const;
    std::vector<ByteChunk> ByteLog() const;
    Bytes AllBytes(Direction direction) const;
    std::vector<UploadRecord> Uploads() const;
    std::vector<ReadBackRecord> ReadBacks() const;
    std::vector<SimEvent> Events() const;
    int VersionAnswers() const;
    std::vector<std::uint16_t> ReceivedCodes() const;
    void ClearRecords();
    // True as soon as `predicate` holds, re-checked after every change; false after `timeout`.
    bool WaitFor(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) const;

private:
    void NotifyLocked();

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::uint64_t changeCount_ = 0;

    SimOptions options_;
    std::atomic<std::uint64_t> optionsVersion_{0};
    Bytes readBackImage_;
    bool readBackImageSet_ = false;
    std::vector<std::function<void()>> posted_;
    bool outputIdle_ = true;

    std::vector<FrameRecord> frames_;
    std::vector<ByteChunk> byteLog_;
    std::vector<UploadRecord> uploadsDone_;
    std::optional<UploadRecord> uploadLatest_;  // in progress, or the last one to end
    std::vector<ReadBackRecord> readBacksDone_;
    std::optional<ReadBackRecord> readBackLatest_;
    std::vector<SimEvent> events_;
    int versionAnswers_ = 0;
    std::uint64_t nextSequence_ = 1;
};

}  // namespace tarven::sim
