// The worker's entry and the process-wide names for the live run's engine and
// worker, over the one LinkSession that is live.
#include "LinkEngine.h"
#include "LinkSession.h"
#include "WorkerPriority.h"

namespace tarven {
namespace {

void SetWorkerPriority(LinkMode mode) {
    const bool keepsPace = mode == LinkMode::VersionQuery || mode == LinkMode::Upload;
    SetCurrentWorkerPriority(keepsPace ? WorkerPriority::Raised : WorkerPriority::Lowered);
}

}  // namespace

LinkEngine* LiveLinkEngine() {
    LinkSession* session = LiveLinkSession();
    return session ? &session->Engine() : nullptr;
}

void LinkWorkerEntry(std::stop_token stop, LinkEngine& engine, LinkNotifier* window) {
    engine.notifyWindow = window;
    engine.AttachStop(stop);
    SetWorkerPriority(engine.mode);
    switch (engine.mode) {
        case LinkMode::VersionQuery: engine.RunVersionQuery(); break;
        case LinkMode::Upload: engine.RunUpload(); break;
        default: engine.RunReadBack(); break;
    }
}

int StartLinkWorker(LinkNotifier* window) {
    LinkSession* session = LiveLinkSession();
    return session && session->Start(window) ? 1 : 0;
}

void TerminateLinkWorker() {
    if (LinkSession* session = LiveLinkSession()) session->Stop();
}

bool LinkWorkerRunning() {
    const LinkSession* session = LiveLinkSession();
    return session && session->Running();
}

}  // namespace tarven
