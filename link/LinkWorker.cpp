#include <atomic>
#include <memory>
#include <system_error>
#include <thread>

#include "LinkEngine.h"
#include "WorkerPriority.h"

namespace tarven {
namespace {

std::atomic<LinkEngine*> g_liveEngine{nullptr};
std::unique_ptr<std::jthread> g_worker;  // the worker slot; only the UI thread touches it
std::atomic<bool> g_workerFinished{true};

void SetWorkerPriority(LinkMode mode) {
    const bool keepsPace = mode == kModeVersionQuery || mode == kModeUpload;
    SetCurrentWorkerPriority(keepsPace ? WorkerPriority::Raised : WorkerPriority::Lowered);
}

}  // namespace

LinkEngine* LiveLinkEngine() { return g_liveEngine.load(); }

void SetLiveLinkEngine(LinkEngine* engine) { g_liveEngine.store(engine); }

void LinkWorkerEntry(std::stop_token stop, LinkNotifier* window) {
    LinkEngine* engine = LiveLinkEngine();
    if (engine) {
        engine->notifyWindow = window;
        engine->AttachStop(stop);
        SetWorkerPriority(engine->mode);
        switch (engine->mode) {
            case kModeVersionQuery: engine->RunVersionQuery(); break;
            case kModeUpload: engine->RunUpload(); break;
            default: engine->RunReadBack(); break;
        }
    }
    g_workerFinished.store(true);
}

int StartLinkWorker(LinkNotifier* window) {
    LinkEngine* engine = LiveLinkEngine();
    if (!engine || !engine->CreateEvents()) return 0;
    TerminateLinkWorker();  // one worker at a time
    g_workerFinished.store(false);
    try {
        g_worker = std::make_unique<std::jthread>(LinkWorkerEntry, window);
    } catch (const std::system_error&) {
        g_workerFinished.store(true);
        return 0;
    }
    return 1;
}

void TerminateLinkWorker() {
    if (!g_worker) return;
    g_worker->request_stop();
    g_worker->join();
    g_worker.reset();
}

bool LinkWorkerRunning() { return g_worker && !g_workerFinished.load(); }

}  // namespace tarven
