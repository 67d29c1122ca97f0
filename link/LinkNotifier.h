// How the worker reaches whoever watches a run, without knowing what it is:
// the progress dialog, tarven-link, or a test. Posting never blocks the worker.
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>

namespace tarven {

class LinkNotifier {
public:
    virtual ~LinkNotifier() = default;
    // WM_LINK_EVENT or WM_LINK_PROGRESS with its two values. Must not block.
    virtual void PostLinkMessage(unsigned message, std::intptr_t wParam, std::intptr_t lParam) = 0;
    // A modal message box with one OK button; returns once it was closed, or
    // as soon as `stop` is requested so a stopping worker never hangs on it.
    virtual void ShowMessageBox(const std::string& text, std::stop_token stop) = 0;
};

// Where messages go that arise outside a run's worker (the events of a worker
// that cannot be created). The window and tarven-link set it; default: stderr.
void SetLinkMessageSink(LinkNotifier* sink);
LinkNotifier* LinkMessageSink();

}  // namespace tarven
