#include "LinkSession.h"

#include <system_error>

#include "LinkEngine.h"
#include "PortAccess.h"

namespace tarven {
namespace {

std::atomic<LinkSession*> g_liveSession{nullptr};

}  // namespace

LinkSession* LiveLinkSession() { return g_liveSession.load(); }

PortHandle OpenRequestPort(const RunRequest& request) { return OpenPort(PortSettingsFor(request.portIndex)); }

LinkSession::LinkSession(const RunRequest& request, LinkClock& clock, PortHandle port, FrameTracer* tracer)
    : request_(request), engine_(std::make_unique<LinkEngine>(request, clock, std::move(port), tracer)) {
    g_liveSession.store(this);
}

LinkSession::LinkSession(const RunRequest& request, LinkClock& clock)
    : LinkSession(request, clock, OpenRequestPort(request)) {}

LinkSession::~LinkSession() {
    Stop();
    // The pointer goes first: nobody may reach an engine being torn down.
    LinkSession* self = this;
    g_liveSession.compare_exchange_strong(self, nullptr);
    engine_.reset();
}

bool LinkSession::Start(LinkNotifier* listener) {
    if (!engine_->CreateEvents()) return false;
    Stop();  // one worker at a time
    finished_.store(false);
    try {
        worker_ = std::jthread([this, listener](std::stop_token stop) {
            LinkWorkerEntry(stop, *engine_, listener);
            finished_.store(true);
        });
    } catch (const std::system_error&) {
        finished_.store(true);
        return false;
    }
    return true;
}

void LinkSession::Stop() {
    if (!worker_.joinable()) return;
    worker_.request_stop();
    worker_.join();
    worker_ = std::jthread();
}

bool LinkSession::Running() const { return worker_.joinable() && !finished_.load(); }

}  // namespace tarven
