// Thread ownership: shared by every thread; every member is under its one lock.
#include "SimShared.h"

#include <algorithm>

namespace tarven::sim {

void SimShared::NotifyLocked() {
    ++changeCount_;
    changed_.notify_all();
}

// ============================================================ options and the image

SimOptions SimShared::Options() const {
    std::lock_guard lock(mutex_);
    return options_;
}

void SimShared::UpdateOptions(const std::function<void(SimOptions&)>& change) {
    std::lock_guard lock(mutex_);
    change(options_);
    optionsVersion_.fetch_add(1, std::memory_order_release);
}

void SimShared::SetReadBackImage(Bytes image) {
    std::lock_guard lock(mutex_);
    readBackImage_ = std::move(image);
    readBackImageSet_ = true;
}

Bytes SimShared::CurrentReadBackImage() const {
    std::lock_guard lock(mutex_);
    if (options_.readBack.serveLastUpload) {
        // What the receiver kept: the last upload that took its end code.
        if (uploadLatest_ && uploadLatest_->endCodes > 0) return uploadLatest_->image;
        for (auto u = uploadsDone_.rbegin(); u != uploadsDone_.rend(); ++u)
            if (u->endCodes > 0) return u->image;
        return {};
    }
    if (readBackImageSet_) return readBackImage_;
    // A recognisable pattern: position-dependent, so a shifted or repeated slice shows.
    Bytes image(options_.readBack.defaultImageSize);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = std::uint8_t((i * 7 + (i >> 8) * 13) & 0xFF);
    return image;
}

// ============================================================ work for the line thread

void SimShared::Post(std::function<void()> fn) {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(fn));
    outputIdle_ = false;
}

std::vector<std::function<void()>> SimShared::TakePosted() {
    std::vector<std::function<void()>> batch;
    std::lock_guard lock(mutex_);
    batch.swap(posted_);
    return batch;
}

void SimShared::SetOutputIdle(bool idle) {
    std::lock_guard lock(mutex_);
    if (outputIdle_ == idle) return;
    outputIdle_ = idle;
    NotifyLocked();
}

bool SimShared::SentAll() const {
    std::lock_guard lock(mutex_);
    return outputIdle_ && posted_.empty();
}

// ============================================================ recording

std::uint64_t SimShared::RecordFrame(FrameRecord record) {
    std::lock_guard lock(mutex_);
    record.sequence = nextSequence_++;
    const std::uint64_t sequence = record.sequence;
    frames_.push_back(std::move(record));
    NotifyLocked();
    return sequence;
}

void SimShared::FinishSentRecord(std::uint64_t sequence, Clock::time_point time, std::uint32_t baud, bool dropped) {
    std::lock_guard lock(mutex_);
    for (auto it = frames_.rbegin(); it != frames_.rend(); ++it) {
        if (it->sequence != sequence) continue;
        it->time = time;
        it->baud = baud;
        it->sent = !dropped;
        it->dropped = dropped;
        break;
    }
    NotifyLocked();
}

void SimShared::RecordChunk(ByteChunk chunk) {
    std::lock_guard lock(mutex_);
    byteLog_.push_back(std::move(chunk));
    NotifyLocked();
}

void SimShared::RecordEvent(const SimEvent& event) {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
    NotifyLocked();
}

void SimShared::CountVersionAnswer() {
    std::lock_guard lock(mutex_);
    ++versionAnswers_;
    NotifyLocked();
}

void SimShared::BeginUpload(UploadRecord record) {
    std::lock_guard lock(mutex_);
    if (uploadLatest_) uploadsDone_.push_back(std::move(*uploadLatest_));
    uploadLatest_ = std::move(record);
    NotifyLocked();
}

void SimShared::WithUpload(const std::function<void(UploadRecord&)>& fn) {
    std::lock_guard lock(mutex_);
    if (uploadLatest_) fn(*uploadLatest_);
    NotifyLocked();
}

void SimShared::BeginReadBack(ReadBackRecord record) {
    std::lock_guard lock(mutex_);
    if (readBackLatest_) readBacksDone_.push_back(std::move(*readBackLatest_));
    readBackLatest_ = std::move(record);
    NotifyLocked();
}

void SimShared::WithReadBack(const std::function<void(ReadBackRecord&)>& fn) {
    std::lock_guard lock(mutex_);
    if (readBackLatest_) fn(*readBackLatest_);
    NotifyLocked();
}

// ============================================================ snapshots

std::vector<FrameRecord> SimShared::Frames(std::optional<Direction> only) const {
    std::lock_guard lock(mutex_);
    if (!only) return frames_;
    std::vector<FrameRecord> result;
    for (const auto& f : frames_)
        if (f.direction == *only) result.push_back(f);
    return result;
}

std::vector<ByteChunk> SimShared::ByteLog() const {
    std::lock_guard lock(mutex_);
    return byteLog_;
}

Bytes SimShared::AllBytes(Direction direction) const {
    std::lock_guard lock(mutex_);
    Bytes all;
    for (const auto& chunk : byteLog_)
        if (chunk.direction == direction) all.insert(all.end(), chunk.bytes.begin(), chunk.bytes.end());
    return all;
}

std::vector<UploadRecord> SimShared::Uploads() const {
    std::lock_guard lock(mutex_);
    std::vector<UploadRecord> result = uploadsDone_;
    if (uploadLatest_) result.push_back(*uploadLatest_);
    return result;
}

std::vector<ReadBackRecord> SimShared::ReadBacks() const {
    std::lock_guard lock(mutex_);
    std::vector<ReadBackRecord> result = readBacksDone_;
    if (readBackLatest_) result.push_back(*readBackLatest_);
    return result;
}

std::vector<SimEvent> SimShared::Events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

int SimShared::VersionAnswers() const {
    std::lock_guard lock(mutex_);
    return versionAnswers_;
}

std::vector<std::uint16_t> SimShared::ReceivedCodes() const {
    std::lock_guard lock(mutex_);
    std::vector<std::uint16_t> codes;
    for (const auto& f : frames_)
        if (f.direction == Direction::FromProgram && f.kind == FrameKind::Command) codes.push_back(f.code);
    return codes;
}

void SimShared::ClearRecords() {
    std::lock_guard lock(mutex_);
    frames_.clear();
    byteLog_.clear();
    uploadsDone_.clear();
    uploadLatest_.reset();
    readBacksDone_.clear();
    readBackLatest_.reset();
    events_.clear();
    versionAnswers_ = 0;
    NotifyLocked();
}

bool SimShared::WaitFor(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) const {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        std::uint64_t seen;
        {
            std::lock_guard lock(mutex_);
            seen = changeCount_;
        }
        if (predicate()) return true;
        std::unique_lock lock(mutex_);
        if (!changed_.wait_until(lock, deadline, [&] { return changeCount_ != seen; })) {
            lock.unlock();
            return predicate();
        }
    }
}

}  // namespace tarven::sim
