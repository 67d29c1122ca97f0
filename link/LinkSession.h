// One link run from its request to its teardown: the session builds the
// engine, owns the worker thread, and is the live run of the process while it
// exists. StartLinkWorker, TerminateLinkWorker and the live-engine pointer are
// this object seen through the names the rest of the program knows.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "LinkClock.h"
#include "LinkConstants.h"
#include "LinkNotifier.h"
#include "SerialPort.h"

namespace tarven {

class FrameTracer;
class LinkEngine;

// Everything a command decides about a run, and nothing the run finds out.
struct RunRequest {
    LinkMode mode = LinkMode::VersionQuery;
    int portIndex = 0;     // 0..5 for COM1..COM6, at the normal line settings
    std::string fileName;  // the image sent or written; also shown in the status line
    ImageKind kind = ImageKind::FullImage;
    AccessLevel level = AccessLevel::Standard;
};

// The port a request names, opened for its run; null when it cannot be opened.
PortHandle OpenRequestPort(const RunRequest& request);

class LinkSession {
public:
    // Builds the engine over `port`, which the caller opened (or a fake, or
    // none: the version query then searches for one). The session becomes the
    // live run. `tracer` (not owned) sees every frame; may be null.
    LinkSession(const RunRequest& request, LinkClock& clock, PortHandle port, FrameTracer* tracer = nullptr);
    // Opens the request's port itself, as the window's runs do.
    LinkSession(const RunRequest& request, LinkClock& clock);
    // Stops the worker first, then tears the engine down (closing the port);
    // the live-engine pointer is empty afterwards.
    ~LinkSession();
    LinkSession(const LinkSession&) = delete;
    LinkSession& operator=(const LinkSession&) = delete;

    // Starts the one worker; `listener` (may be null) gets its events. False
    // when none could be started (after the message box of a failed set-up).
    bool Start(LinkNotifier* listener);
    // Stops the worker wherever it is and waits for it: about one wait slice.
    // Without a worker, or called again, it does nothing.
    void Stop();
    // True while the worker has been started and has not ended by itself.
    bool Running() const;

    const RunRequest& Request() const { return request_; }
    // Worker state such as the port and the version buffer: the worker owns
    // it until Stop() returns, apart from what its fields say may be read.
    LinkEngine& Engine() { return *engine_; }
    const LinkEngine& Engine() const { return *engine_; }

private:
    RunRequest request_;
    std::unique_ptr<LinkEngine> engine_;
    std::jthread worker_;
    std::atomic<bool> finished_{true};
};

// The live run, or null. Only the user-interface thread creates and ends runs.
LinkSession* LiveLinkSession();

}  // namespace tarven
