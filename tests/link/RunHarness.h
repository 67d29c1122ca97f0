// Runs one link exchange on a worker the way the progress dialog does, and
// records what the worker posted.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "LinkEngine.h"

namespace tarven::test {

struct Posted {
    unsigned message;
    std::intptr_t wParam, lParam;
    bool operator==(const Posted&) const = default;
};

class RecordingNotifier final : public LinkNotifier {
public:
    void PostLinkMessage(unsigned message, std::intptr_t w, std::intptr_t l) override {
        std::lock_guard lock(mutex_);
        posted_.push_back({message, w, l});
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
    std::vector<std::string> boxes_;
};

// Owns the live engine for one test; stops the worker and tears down at the end.
class LiveRun {
public:
    LiveRun(LinkMode mode, PortHandle port, PortSettings settings = DefaultPortSettings()) {
        engine_ = new LinkEngine(settings, mode, std::move(port));
        SetLiveLinkEngine(engine_);
    }
    ~LiveRun() { Stop(); }
    LinkEngine& Engine() { return *engine_; }
    bool Start() { return StartLinkWorker(&notifier) == 1; }
    void Stop() {
        if (!engine_) return;
        TerminateLinkWorker();
        delete engine_;
        engine_ = nullptr;
    }
    RecordingNotifier notifier;

private:
    LinkEngine* engine_ = nullptr;
};

// Link time runs this much faster in the exchange tests: the scripted receiver
// answers before the engine looks, so only the protocol's own waits shrink.
inline constexpr double kFastClock = 1000.0;

}  // namespace tarven::test
