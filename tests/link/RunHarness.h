// Runs one link exchange on a worker the way the progress dialog does, and
// records what the worker reported, in the numbers of the window messages.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "LinkEngine.h"
#include "LinkSession.h"

namespace tarven::test {

struct Posted {
    unsigned message;
    std::intptr_t wParam, lParam;
    bool operator==(const Posted&) const = default;
};

// The window message, wParam and lParam an event stands for.
inline Posted PostedOf(const LinkEvent& event) {
    if (const auto* p = std::get_if<Progress>(&event))
        return {WM_LINK_PROGRESS, p->step == Progress::Step::Total ? kProgressTotal : kProgressPosition,
                std::intptr_t(p->kb)};
    if (std::holds_alternative<VersionReady>(event)) return {WM_LINK_EVENT, kEventVersionReady, 0};
    return {WM_LINK_EVENT, kEventFinished, std::get<Finished>(event).result};
}

class RecordingNotifier final : public LinkNotifier {
public:
    void OnLinkEvent(const LinkEvent& event) override {
        std::lock_guard lock(mutex_);
        posted_.push_back(PostedOf(event));
        events_.push_back(event);
        changed_.notify_all();
    }
    void ShowMessageBox(const std::string& text, std::stop_token) override {
        std::lock_guard lock(mutex_);
        boxes_.push_back(text);
    }
    std::vector<Posted> Messages() const {
        std::lock_guard lock(mutex_);
        return posted_;
    }
    std::vector<LinkEvent> Events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<std::string> Boxes() const {
        std::lock_guard lock(mutex_);
        return boxes_;
    }
    // Waits for a WM_LINK_EVENT with this wParam; false on time-out.
    bool WaitForEvent(int wParam, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] {
            for (const auto& p : posted_)
                if (p.message == WM_LINK_EVENT && p.wParam == wParam) return true;
            return false;
        });
    }
    std::intptr_t FinishResult() const {
        for (const auto& p : Messages())
            if (p.message == WM_LINK_EVENT && p.wParam == kEventFinished) return p.lParam;
        return -1;
    }
    std::vector<std::intptr_t> Progress(int wParam) const {
        std::vector<std::intptr_t> values;
        for (const auto& p : Messages())
            if (p.message == WM_LINK_PROGRESS && p.wParam == wParam) values.push_back(p.lParam);
        return values;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Posted> posted_;
    std::vector<LinkEvent> events_;
    std::vector<std::string> boxes_;
};

// One live run for a test, over a scripted port; stops the worker and tears
// down at the end.
class LiveRun {
public:
    LiveRun(const RunRequest& request, PortHandle port)
        : session_(std::make_unique<LinkSession>(request, LinkTime(), std::move(port))) {}
    LiveRun(LinkMode mode, PortHandle port) : LiveRun(RunRequest{.mode = mode}, std::move(port)) {}
    ~LiveRun() { Stop(); }
    LinkEngine& Engine() { return session_->Engine(); }
    bool Start() { return session_->Start(&notifier); }
    void Stop() { session_.reset(); }
    RecordingNotifier notifier;

private:
    std::unique_ptr<LinkSession> session_;
};

// Link time runs this much faster in the exchange tests: the scripted receiver
// answers before the engine looks, so only the protocol's own waits shrink.
inline constexpr double kFastClock = 1000.0;

}  // namespace tarven::test
