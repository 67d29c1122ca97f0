// How the link worker reaches the window: its events become Qt events
// numbered as the design's WM_LINK_EVENT and WM_LINK_PROGRESS, and its
// message boxes are shown on the user-interface thread while the worker
// waits, without ever blocking a stop.
#pragma once

#include <stop_token>
#include <string>

#include <QEvent>
#include <QString>

#include "LinkNotifier.h"
#include "MessageHook.h"

class QObject;

namespace tarven {

// WM_LINK_EVENT (1230) or WM_LINK_PROGRESS (1231), carrying the event itself.
class LinkMessageEvent : public QEvent {
public:
    explicit LinkMessageEvent(const LinkEvent& event);
    const LinkEvent& Event() const { return event_; }

private:
    LinkEvent event_;
};

// Queues the event for `target`; thread-safe, never waits.
void PostLinkEvent(QObject* target, const LinkEvent& event);
// True for the Qt events PostLinkEvent queues.
bool IsLinkMessage(const QEvent* e);

// Shows `text` through `road` on the user-interface thread and returns
// once OK was pressed, or as soon as `stop` is requested (a box already up
// stays until the user closes it, but the caller is free; one not yet shown
// never comes up). Called on the user-interface thread itself, it simply
// shows the box.
// `road` must outlive any box still queued: it is the program's.
void ShowMessageFromAnyThread(const MessageRoad& road, const QString& text, std::stop_token stop);

}  // namespace tarven
