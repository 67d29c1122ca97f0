// Runs one link exchange on a worker the way the progress dialog does, and
// records what the worker reported.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "LinkEngine.h"
#include "LinkSession.h"

namespace tarven::test {

// What the worker reported, one row per event: which step, and its number
// (KB for progress, the result for a finished transfer, 0 for a version block).
enum class Ev : std::uint8_t { Total, Position, VersionReady, Finished };
struct Posted {
    Ev what;
    std::intptr_t value;
    bool operator==(const Posted&) const = default;
};

inline Posted PostedOf(const LinkEvent& event) {
    if (const auto* p = std::get_if<Progress>(&event))
        return {p->step == Progress::Step::Total ? Ev::Total : Ev::Position, std::intptr_t(p->kb)};
    if (std::holds_alternative<VersionReady>(event)) return {Ev::VersionReady, 0};
    return {Ev::Finished, std::get<Finished>(event).result};
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
    // Waits for an event of this kind; false on time-out.
    bool WaitForEvent(Ev what, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] {
            for (const auto& p : posted_)
                if (p.what == what) return true;
            return false;
        });
    }
    std::intptr_t FinishResult() const {
        const std::optional<Finished> finished = FinishedEvent();
        return finished ? finished->result : -1;
    }
    // The first finishing event, with its doubt and failure.
    std::optional<Finished> FinishedEvent() const {
        for (const auto& e : Events())
            if (const auto* f = std::get_if<Finished>(&e)) return *f;
        return std::nullopt;
    }
    // The block of the latest version event, if one came.
    std::optional<VersionReady> LastVersion() const {
        std::optional<VersionReady> last;
        for (const auto& e : Events())
            if (const auto* v = std::get_if<VersionReady>(&e)) last = *v;
        return last;
    }
    std::vector<std::intptr_t> Progress(Ev which) const {
        std::vector<std::intptr_t> values;
        for (const auto& p : Messages())
            if (p.what == which) values.push_back(p.value);
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
    LinkSession& Session() { return *session_; }
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
