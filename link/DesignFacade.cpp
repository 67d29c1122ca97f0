#include "DesignFacade.h"

#include <atomic>

#include "LinkEngine.h"
#include "LinkSession.h"

namespace tarven {
namespace {

std::atomic<LinkSession*> g_liveSession{nullptr};

}  // namespace

DesignMessage DesignMessageOf(const LinkEvent& event) {
    if (const auto* progress = std::get_if<Progress>(&event)) {
        const int code = progress->step == Progress::Step::Total ? kProgressTotal : kProgressPosition;
        return {WM_LINK_PROGRESS, code, std::intptr_t(progress->kb)};
    }
    if (std::holds_alternative<VersionReady>(event)) return {WM_LINK_EVENT, kEventVersionReady, 0};
    return {WM_LINK_EVENT, kEventFinished, std::get<Finished>(event).result};
}

LiveLinkRun::LiveLinkRun(LinkSession& session) { g_liveSession.store(&session); }

LiveLinkRun::~LiveLinkRun() { g_liveSession.store(nullptr); }

LinkEngine* LiveLinkEngine() {
    LinkSession* session = g_liveSession.load();
    return session ? &session->Engine() : nullptr;
}

int StartLinkWorker(LinkNotifier* window) {
    LinkSession* session = g_liveSession.load();
    return session && session->Start(window) ? 1 : 0;
}

void TerminateLinkWorker() {
    if (LinkSession* session = g_liveSession.load()) session->Stop();
}

bool LinkWorkerRunning() {
    const LinkSession* session = g_liveSession.load();
    return session && session->Running();
}

void LinkWorkerEntry(std::stop_token stop, LinkEngine& engine, LinkNotifier* window) { engine.Run(stop, window); }

}  // namespace tarven
