#include "LinkRun.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "PortAccess.h"

namespace tarven::cli {
namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

// How often the main thread looks at the device and the clock while nothing is posted.
constexpr auto kWatchInterval = std::chrono::milliseconds(100);
// A longer time-out is as good as none; beyond about 292 years it would no
// longer fit the clock and the run would end at once.
constexpr double kLongestTimeoutSeconds = 1e9;

}  // namespace

void RequestInterrupt() { g_interrupted.store(true); }
bool InterruptRequested() { return g_interrupted.load(); }

RunOutcome RunLink(const RunSetup& setup, PortHandle port, QueueNotifier& notifier, ProgressView* progress,
                   StderrTracer* tracer) {
    using Clock = std::chrono::steady_clock;
    RunOutcome outcome;
    if (InterruptRequested()) {
        outcome.end = RunEnd::Interrupted;
        return outcome;
    }
    const std::string device = port ? port->Device() : std::string();

    PortSettings settings = DefaultPortSettings();
    settings.wReserved = std::uint16_t(setup.portIndex);
    auto* engine = new LinkEngine(settings, setup.mode, std::move(port));
    engine->fileName = setup.fileName;
    engine->imageKind = KindId(setup.kind);
    engine->accessLevel = setup.level;
    engine->sendingFlag = setup.mode == kModeUpload ? 1 : 0;
    engine->tracer = tracer;
    SetLiveLinkEngine(engine);
    if (StartLinkWorker(&notifier) != 1) {
        delete engine;
        outcome.messageBoxes = notifier.Boxes();
        return outcome;
    }

    const double seconds = std::min(setup.timeoutSeconds, kLongestTimeoutSeconds);
    const auto limit = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    auto deadline = Clock::now() + limit;
    for (;;) {
        if (auto m = notifier.Wait(kWatchInterval)) {
            if (m->message == WM_LINK_PROGRESS) {
                if (setup.timeoutRestartsOnProgress) deadline = Clock::now() + limit;
                if (progress && m->wParam == kProgressTotal) progress->Total(long(m->lParam));
                if (progress && m->wParam == kProgressPosition) progress->Position(long(m->lParam));
            } else if (m->message == WM_LINK_EVENT) {
                if (m->wParam == kEventVersionReady) {
                    // The worker wrote the block before posting; it only reads the line now.
                    std::memcpy(outcome.versionBlock.data(), engine->versionBuffer.data(), kVersionBlockSize);
                    outcome.end = RunEnd::VersionReady;
                } else {
                    // Any other event closes the window's dialog as cancelled: a failure here.
                    outcome.end = RunEnd::Finished;
                    outcome.result = m->wParam == kEventFinished ? int(m->lParam) : kResultFailure;
                }
                break;
            }
        }
        // Checked after every message too: a steady stream of progress must
        // not hide an interrupt or a pulled adapter.
        if (InterruptRequested()) {
            outcome.end = RunEnd::Interrupted;
            break;
        }
        if (engine->DeviceGone() || (!device.empty() && DeviceVanished(device))) {
            outcome.end = RunEnd::Vanished;
            break;
        }
        if (Clock::now() >= deadline) {
            outcome.end = RunEnd::TimedOut;
            break;
        }
    }
    if (tracer) tracer->Mute();
    TerminateLinkWorker();
    // The worker has stopped: what it left in the engine can be read freely.
    outcome.fileErrno = engine->imageFileErrno;
    outcome.imageTooLarge = engine->imageTooLarge;
    outcome.uploadDoubt = engine->uploadDoubt.load();
    if (setup.keepPort) *setup.keepPort = std::move(engine->port);
    delete engine;
    if (progress) progress->End();
    outcome.messageBoxes = notifier.Boxes();
    return outcome;
}

}  // namespace tarven::cli
