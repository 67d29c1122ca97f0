// The system's design reaches the link run through a few process-wide names:
// the worker's two window messages with their codes, the live-engine pointer,
// StartLinkWorker and TerminateLinkWorker. This file keeps those names, over
// a session someone made live, for code that speaks them: the two window
// adapters turn typed events into the numbered messages here. The program's
// own front ends own their sessions and never go through the live run.
#pragma once

#include <cstdint>
#include <stop_token>

#include "LinkEvents.h"
#include "LinkNotifier.h"

namespace tarven {

class LinkEngine;
class LinkSession;

// ---------------------------------------------------------------- worker messages
inline constexpr unsigned WM_LINK_EVENT = 1230;
inline constexpr unsigned WM_LINK_PROGRESS = 1231;
inline constexpr int kProgressTotal = 6;      // WM_LINK_PROGRESS wParam
inline constexpr int kProgressPosition = 5;   // WM_LINK_PROGRESS wParam
inline constexpr int kEventVersionReady = 1;  // WM_LINK_EVENT wParam
inline constexpr int kEventFinished = 7;      // WM_LINK_EVENT wParam

// An event as the design posts it: the message and its wParam and lParam
// (the KB of a progress step, the result of a finished transfer, 0 for a
// version block, which the window copies out of the event itself).
struct DesignMessage {
    unsigned message = 0;
    std::intptr_t wParam = 0;
    std::intptr_t lParam = 0;
    bool operator==(const DesignMessage&) const = default;
};
DesignMessage DesignMessageOf(const LinkEvent& event);

// ---------------------------------------------------------------- the live run
// Makes `session` the live run for as long as this object exists; one at a time.
class LiveLinkRun {
public:
    explicit LiveLinkRun(LinkSession& session);
    ~LiveLinkRun();
    LiveLinkRun(const LiveLinkRun&) = delete;
    LiveLinkRun& operator=(const LiveLinkRun&) = delete;
};

// The live run's engine, or null.
LinkEngine* LiveLinkEngine();
// Starts the worker of the live run; `window` receives its events (may be null).
// 1 when a worker runs, 0 when none could be started or no run is live.
int StartLinkWorker(LinkNotifier* window);
// Stops the live run's worker wherever it is and waits for it. No worker: nothing.
void TerminateLinkWorker();
// True while the live run's worker is started and has not finished.
bool LinkWorkerRunning();
// The worker thread's body: runs the engine's mode, reporting to `window`.
void LinkWorkerEntry(std::stop_token stop, LinkEngine& engine, LinkNotifier* window);

}  // namespace tarven
