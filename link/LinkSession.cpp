#include "LinkSession.h"

#include <system_error>

#include "LinkEngine.h"
#include "PortAccess.h"

namespace tarven {

LinkSession::LinkSession(const RunRequest& request, LinkClock& clock, PortHandle port, FrameTracer* tracer)
    : engine_(std::make_unique<LinkEngine>(request, clock, std::move(port), tracer)) {}

LinkSession::LinkSession(const RunRequest& request, LinkClock& clock, PortMap ports)
    : engine_(std::make_unique<LinkEngine>(request, clock, ports.Open(PortSettingsFor(request.portIndex, request.portName)), nullptr,
                                           ports)) {}

LinkSession::~LinkSession() {
    Stop();
    engine_.reset();
}

bool LinkSession::Start(LinkNotifier* listener) {
    if (!engine_->CreateEvents(listener)) return false;
    Stop();  // one worker at a time
    finished_.store(false);
    try {
        worker_ = std::jthread([this, listener](std::stop_token stop) {
            engine_->Run(stop, listener);
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

bool LinkSession::DeviceGone() const { return engine_->DeviceGone(); }

PortHandle LinkSession::TakePort() {
    Stop();
    return engine_->TakePort();
}

SessionFactory LinkSessions(PortMap ports) {
    return [ports](const RunRequest& request) -> std::unique_ptr<SessionControl> {
        return std::make_unique<LinkSession>(request, LinkTime(), ports);
    };
}

}  // namespace tarven
