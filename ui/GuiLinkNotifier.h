// How the link worker reaches the window: its two messages become Qt events
// with the same numbers, and its message boxes are shown on the
// user-interface thread while the worker waits, without ever blocking a
// stop.
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>

#include <QEvent>
#include <QString>

#include "LinkNotifier.h"

class QObject;

namespace tarven {

// WM_LINK_EVENT (1230) or WM_LINK_PROGRESS (1231) with its two values.
class LinkMessageEvent : public QEvent {
public:
    LinkMessageEvent(unsigned message, std::intptr_t wParam, std::intptr_t lParam);
    std::intptr_t wParam() const { return wParam_; }
    std::intptr_t lParam() const { return lParam_; }

private:
    std::intptr_t wParam_;
    std::intptr_t lParam_;
};

// Queues the message for `target`; thread-safe, never waits.
void PostLinkEvent(QObject* target, unsigned message, std::intptr_t wParam, std::intptr_t lParam);

// Shows `text` through ShowMessage on the user-interface thread and returns
// once OK was pressed, or as soon as `stop` is requested (a box already up
// stays until the user closes it, but the caller is free; one not yet shown
// never comes up). Called on the user-interface thread itself, it simply
// shows the box.
void ShowMessageFromAnyThread(const QString& text, std::stop_token stop);

// Messages that arise outside a run (a worker that cannot be set up).
class GuiMessageSink : public LinkNotifier {
public:
    void PostLinkMessage(unsigned message, std::intptr_t wParam, std::intptr_t lParam) override;
    void ShowMessageBox(const std::string& text, std::stop_token stop) override;
};

}  // namespace tarven
