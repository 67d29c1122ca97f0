// Link sessions played by a script, for the tests of the windows' models and
// views: their factory takes the real sessions' place, records each request
// started, and counts the sessions still alive, so a test sees the run torn
// down when the dialog closes.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "LinkSession.h"

namespace tarven::test {

class ScriptedSessions {
public:
    // Called when a session starts, with its listener and request; what it
    // returns is what starting the worker returned.
    using Script = std::function<bool(LinkNotifier* listener, const RunRequest& request)>;

    explicit ScriptedSessions(Script script = [](LinkNotifier*, const RunRequest&) { return true; })
        : state_(std::make_shared<State>()) {
        state_->script = std::move(script);
    }

    SessionFactory Factory() const {
        return [state = state_](const RunRequest& request) -> std::unique_ptr<SessionControl> {
            return std::make_unique<Session>(state, request);
        };
    }
    const std::vector<RunRequest>& Started() const { return state_->started; }
    int Alive() const { return state_->alive; }
    // What every session says when asked whether its device has gone.
    void SetDeviceGone(bool gone) { state_->deviceGone = gone; }

private:
    struct State {
        Script script;
        std::vector<RunRequest> started;
        int alive = 0;
        bool deviceGone = false;
    };

    class Session final : public SessionControl {
    public:
        Session(std::shared_ptr<State> state, RunRequest request)
            : state_(std::move(state)), request_(std::move(request)) {
            ++state_->alive;
        }
        ~Session() override { --state_->alive; }
        bool Start(LinkNotifier* listener) override {
            state_->started.push_back(request_);
            running_ = state_->script(listener, request_);
            return running_;
        }
        void Stop() override { running_ = false; }
        bool Running() const override { return running_; }
        bool DeviceGone() const override { return state_->deviceGone; }

    private:
        std::shared_ptr<State> state_;
        RunRequest request_;
        bool running_ = false;
    };

    std::shared_ptr<State> state_;
};

}  // namespace tarven::test
