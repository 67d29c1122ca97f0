// An in-memory serial line for the engine's tests: what the engine writes is
// parsed into frames and handed to a scenario, which answers by queuing bytes
// for the engine to read. No threads, no timing: every answer is queued before
// the engine looks for it.
#pragma once

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "Frames.h"
#include "LinkClock.h"
#include "SerialPort.h"

namespace tarven::test {

class ScriptedPort final : public SerialPort {
public:
    using Reaction = std::function<void(const ParsedFrame&, ScriptedPort&)>;

    explicit ScriptedPort(Reaction reaction = {}) : reaction_(std::move(reaction)) {}
    ~ScriptedPort() override {
        if (closedFlag_) *closedFlag_ = true;
        if (queuedAtClose_) *queuedAtClose_ = OutputQueued();
    }

    // ---- what the receiver side does
    void Queue(const std::vector<std::uint8_t>& bytes) {
        std::lock_guard lock(mutex_);
        input_.insert(input_.end(), bytes.begin(), bytes.end());
    }
    void QueueCommand(std::uint16_t code) {
        const CommandFrame f = EncodeCommandFrame(code);
        Queue(std::vector<std::uint8_t>(f.begin(), f.end()));
    }
    void QueueData(const std::vector<std::uint8_t>& payload) { Queue(DataFrame(payload)); }
    // Makes writes stall as a full driver queue would.
    void BlockWrites(bool block) { blockWrites_ = block; }
    void SetClosedFlag(bool* flag) { closedFlag_ = flag; }
    // Makes written bytes sit in a driver queue and leave at `baud` on the link
    // clock, as on a UART (0: the line never takes them).
    void QueueOutputAt(std::uint32_t baud) {
        std::lock_guard lock(mutex_);
        queueOutput_ = true;
        wireBaud_ = baud;
    }
    // Where to note the bytes still queued when the port is destroyed.
    void SetQueuedAtClose(int* bytes) { queuedAtClose_ = bytes; }

    // ---- what the engine did
    std::vector<ParsedFrame> Frames() const {
        std::lock_guard lock(mutex_);
        return frames_;
    }
    std::vector<std::uint16_t> Commands() const {
        std::vector<std::uint16_t> codes;
        for (const auto& f : Frames())
            if (f.kind == ParsedFrame::Kind::Command) codes.push_back(f.code);
        return codes;
    }
    std::vector<std::vector<std::uint8_t>> Payloads() const {
        std::vector<std::vector<std::uint8_t>> out;
        for (const auto& f : Frames())
            if (f.kind == ParsedFrame::Kind::Data) out.push_back(f.payload);
        return out;
    }
    std::vector<std::uint8_t> Written() const {
        std::lock_guard lock(mutex_);
        return written_;
    }
    std::vector<std::uint32_t> Speeds() const {
        std::lock_guard lock(mutex_);
        return speeds_;
    }
    // The speed in force when each frame was written.
    std::vector<std::uint32_t> FrameSpeeds() const {
        std::lock_guard lock(mutex_);
        return frameSpeeds_;
    }
    // Link time at which each frame was written, in microseconds.
    std::vector<std::int64_t> FrameTimesUs() const {
        std::lock_guard lock(mutex_);
        return frameTimesUs_;
    }
    int Purges() const {
        std::lock_guard lock(mutex_);
        return purges_;
    }
    // Bytes still queued for output at each purge and at each speed change.
    std::vector<int> QueuedAtPurges() const {
        std::lock_guard lock(mutex_);
        return queuedAtPurges_;
    }
    std::vector<int> QueuedAtSpeedChanges() const {
        std::lock_guard lock(mutex_);
        return queuedAtApplies_;
    }

    // ---- SerialPort
    int ReadQueued(std::uint8_t* destination, int maxBytes) override {
        std::lock_guard lock(mutex_);
        int n = 0;
        while (n < maxBytes && !input_.empty()) {
            destination[n++] = input_.front();
            input_.pop_front();
        }
        return n;
    }
    void WaitForInput(int maxMs, const WakeEvent* wake) override { Wait(maxMs, wake, true); }
    int WriteSome(const std::uint8_t* source, int count) override {
        if (blockWrites_) return 0;
        std::vector<ParsedFrame> complete;
        {
            std::lock_guard lock(mutex_);
            if (queueOutput_) {
                const std::int64_t now = LinkTime().NowUs();
                wireFreeAtUs_ = std::max(wireFreeAtUs_, now) + std::int64_t(count) * ByteTimeUs();
            }
            written_.insert(written_.end(), source, source + count);
            parser_.Feed(source, std::size_t(count));
            while (auto f = parser_.Next()) {
                frames_.push_back(*f);
                frameSpeeds_.push_back(speed_);
                frameTimesUs_.push_back(LinkTime().NowUs());
                complete.push_back(std::move(*f));
            }
        }
        if (reaction_)
            for (const auto& f : complete) reaction_(f, *this);
        return count;
    }
    void WaitForOutput(int maxMs, const WakeEvent* wake) override { Wait(maxMs, wake, false); }
    void Purge() override {
        std::lock_guard lock(mutex_);
        queuedAtPurges_.push_back(QueuedLocked());
        wireFreeAtUs_ = 0;
        input_.clear();
        ++purges_;
    }
    int OutputQueued() override {
        std::lock_guard lock(mutex_);
        return QueuedLocked();
    }
    void DiscardOutput() override {
        std::lock_guard lock(mutex_);
        wireFreeAtUs_ = 0;
    }
    bool Apply(const PortSettings& settings) override {
        std::lock_guard lock(mutex_);
        queuedAtApplies_.push_back(QueuedLocked());
        // As a driver does for a speed its chip cannot make: the line stays as it was.
        if (settings.baudRate == refusedSpeed_) return false;
        speed_ = settings.baudRate;
        speeds_.push_back(settings.baudRate);
        return true;
    }
    std::string Device() const override { return "scripted"; }
    void RefuseSpeed(std::uint32_t baud) {
        std::lock_guard lock(mutex_);
        refusedSpeed_ = baud;
    }

private:
    // Ten bits a byte; a line that never moves holds its bytes for good.
    std::int64_t ByteTimeUs() const { return wireBaud_ ? 10'000'000 / wireBaud_ : std::int64_t(1) << 40; }
    int QueuedLocked() const {
        const std::int64_t leftUs = wireFreeAtUs_ - LinkTime().NowUs();
        return leftUs > 0 ? int((leftUs + ByteTimeUs() - 1) / ByteTimeUs()) : 0;
    }
    void Wait(int maxMs, const WakeEvent* wake, bool forInput) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
        while (std::chrono::steady_clock::now() < end) {
            if (forInput) {
                std::lock_guard lock(mutex_);
                if (!input_.empty()) return;
            }
            if (!wake) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            else if (wake->Wait(1)) return;
        }
    }

    Reaction reaction_;
    mutable std::mutex mutex_;
    std::deque<std::uint8_t> input_;
    std::vector<std::uint8_t> written_;
    std::vector<ParsedFrame> frames_;
    std::vector<std::uint32_t> speeds_, frameSpeeds_;
    std::vector<std::int64_t> frameTimesUs_;
    std::uint32_t speed_ = 0;
    std::uint32_t refusedSpeed_ = 0;  // a speed Apply refuses; 0: none
    FrameParser parser_;
    int purges_ = 0;
    bool blockWrites_ = false;
    bool* closedFlag_ = nullptr;
    bool queueOutput_ = false;
    std::uint32_t wireBaud_ = 0;
    std::int64_t wireFreeAtUs_ = 0;  // link time at which the last queued byte is out
    std::vector<int> queuedAtPurges_, queuedAtApplies_;
    int* queuedAtClose_ = nullptr;
};

}  // namespace tarven::test
