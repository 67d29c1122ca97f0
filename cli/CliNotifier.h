// What the worker posts, turned into something the command line can wait on,
// and the frame trace of --trace.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "LinkEngine.h"

namespace tarven::cli {

// The worker reports into a queue and never waits; the main thread takes the
// events out at its own pace. Message boxes become lines on stderr.
class QueueNotifier final : public LinkNotifier {
public:
    // `label` names the port in front of every message box text.
    explicit QueueNotifier(std::string label, std::FILE* err = stderr) : label_(std::move(label)), err_(err) {}

    void OnLinkEvent(const LinkEvent& event) override;
    void ShowMessageBox(const std::string& text, std::stop_token stop) override;

    // The next event, waiting at most `limit`; none when nothing came.
    std::optional<LinkEvent> Wait(std::chrono::milliseconds limit);
    // Texts of the message boxes shown so far.
    std::vector<std::string> Boxes() const;

private:
    std::string label_;
    std::FILE* err_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<LinkEvent> queue_;
    std::vector<std::string> boxes_;
};

// One line per frame: direction, command code or payload length, CRC state.
std::string DescribeSentFrame(const std::uint8_t* frame, std::size_t size);
std::string DescribeReceivedFrame(int result, std::uint32_t payloadLength);

class StderrTracer final : public FrameTracer {
public:
    explicit StderrTracer(std::FILE* err = stderr) : err_(err) {}
    void Sent(const std::uint8_t* frame, std::size_t size) override;
    void Received(int result, std::uint32_t payloadLength) override;
    // Once the run's outcome is known the worker is being stopped: what it
    // still reports (a receive cut short reads as a time-out) is no traffic.
    void Mute() { muted_.store(true); }

private:
    std::FILE* err_;
    std::atomic<bool> muted_{false};
};

}  // namespace tarven::cli
