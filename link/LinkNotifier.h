// How the worker reaches whoever watches a run, without knowing what it is:
// the progress dialog, tarven-link, or a test. Reporting never blocks the worker.
#pragma once

#include <stop_token>
#include <string>

#include "LinkEvents.h"

namespace tarven {

class LinkNotifier {
public:
    virtual ~LinkNotifier() = default;
    // Called on the worker thread, in order. Must not block: a window queues
    // the event for its own thread (as WM_LINK_EVENT or WM_LINK_PROGRESS).
    virtual void OnLinkEvent(const LinkEvent& event) = 0;
    // A modal message box with one OK button; returns once it was closed, or
    // as soon as `stop` is requested so a stopping worker never hangs on it.
    virtual void ShowMessageBox(const std::string& text, std::stop_token stop) = 0;
};

// Where messages go that arise outside a run's worker (the events of a worker
// that cannot be created). The window and tarven-link set it; default: stderr.
void SetLinkMessageSink(LinkNotifier* sink);
LinkNotifier* LinkMessageSink();

}  // namespace tarven
