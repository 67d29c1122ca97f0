#include "GuiLinkNotifier.h"

#include <chrono>
#include <future>
#include <memory>

#include <QCoreApplication>
#include <QThread>

#include "DesignFacade.h"
#include "LinkConstants.h"
#include "MessageHook.h"

namespace tarven {

LinkMessageEvent::LinkMessageEvent(const LinkEvent& event)
    : QEvent(static_cast<QEvent::Type>(DesignMessageOf(event).message)), event_(event) {}

bool IsLinkMessage(const QEvent* e) {
    const auto type = static_cast<unsigned>(e->type());
    return type == WM_LINK_EVENT || type == WM_LINK_PROGRESS;
}

void PostLinkEvent(QObject* target, const LinkEvent& event) {
    QCoreApplication::postEvent(target, new LinkMessageEvent(event));
}

void ShowMessageFromAnyThread(const MessageRoad& road, const QString& text, std::stop_token stop) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    if (QThread::currentThread() == app->thread()) {
        road.Show(nullptr, text);
        return;
    }
    // Queued, never a blocking call: the user-interface thread may be the one
    // joining this worker, and it must not wait for a box the worker wants.
    // No parent: the box must not belong to a dialog that can close under it.
    // A box still queued when its run is stopped would only puzzle the
    // technician later, over a window that has moved on: it is dropped.
    auto closed = std::make_shared<std::promise<void>>();
    std::future<void> done = closed->get_future();
    QMetaObject::invokeMethod(
        app,
        [&road, text, closed, stop] {
            if (!stop.stop_requested()) road.Show(nullptr, text);
            closed->set_value();
        },
        Qt::QueuedConnection);
    while (done.wait_for(std::chrono::milliseconds(kWaitSliceMs)) != std::future_status::ready) {
        if (stop.stop_requested()) return;
    }
}

}  // namespace tarven
