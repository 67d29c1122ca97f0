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
    // the event for its own thread.
    virtual void OnLinkEvent(const LinkEvent& event) = 0;
    // A modal message box with one OK button; returns once it was closed, or
    // as soon as `stop` is requested so a stopping worker never hangs on it.
    virtual void ShowMessageBox(const std::string& text, std::stop_token stop) = 0;
};

}  // namespace tarven
