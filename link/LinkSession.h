// One link run from its request to its teardown: the session builds the
// engine and owns the worker thread. Whoever creates a session owns the run:
// the progress dialog's model for the window, the command for tarven-link.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "LinkClock.h"
#include "LinkNotifier.h"
#include "LinkRequest.h"
#include "PortMap.h"
#include "SerialPort.h"

namespace tarven {

class FrameTracer;
class LinkEngine;

// What a front end needs of a run: start it, stop it, ask how it is doing.
// LinkSession is the real one; tests put a scripted one in its place.
class SessionControl {
public:
    virtual ~SessionControl() = default;
    // Starts the one worker; `listener` (may be null) gets its events. False
    // when none could be started (after the message box of a failed set-up).
    virtual bool Start(LinkNotifier* listener) = 0;
    // Stops the worker wherever it is and waits for it: about one wait slice.
    // Without a worker, or called again, it does nothing.
    virtual void Stop() = 0;
    // True while the worker has been started and has not ended by itself.
    virtual bool Running() const = 0;
    // True while the port reports the device gone (adapter pulled).
    virtual bool DeviceGone() const = 0;
};

// How a front end makes the session of a request.
using SessionFactory = std::function<std::unique_ptr<SessionControl>(const RunRequest&)>;

class LinkSession final : public SessionControl {
public:
    // Builds the engine over `port`, which the caller opened (or a fake, or
    // none: the version query then searches for one). `tracer` (not owned)
    // sees every frame; may be null.
    LinkSession(const RunRequest& request, LinkClock& clock, PortHandle port, FrameTracer* tracer = nullptr);
    // Opens the request's port itself, as the window's runs do.
    // Opens the request's port through `ports` itself, as the window's runs
    // do; the version query searches them when it cannot.
    LinkSession(const RunRequest& request, LinkClock& clock, PortMap ports);
    // Stops the worker first, then tears the engine down (closing the port).
    ~LinkSession() override;
    LinkSession(const LinkSession&) = delete;
    LinkSession& operator=(const LinkSession&) = delete;

    bool Start(LinkNotifier* listener) override;
    void Stop() override;
    bool Running() const override;
    bool DeviceGone() const override;

    // The port, still open and at the speed the run left it, for a next run
    // on the same line (tarven-link --verify). Stops the worker first.
    PortHandle TakePort();

    // The engine, for the design's names of the live run only: the worker
    // owns it while it runs.
    LinkEngine& Engine() { return *engine_; }

private:
    std::unique_ptr<LinkEngine> engine_;
    std::jthread worker_;
    std::atomic<bool> finished_{true};
};

// The window's sessions: each opens the request's port through `ports`, on link time.
SessionFactory LinkSessions(PortMap ports);

}  // namespace tarven
