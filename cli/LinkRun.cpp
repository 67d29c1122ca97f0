#include "LinkRun.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "PortAccess.h"
#include "TraceJson.h"

namespace tarven::cli {
namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

// How often the main thread looks at the engine's view of the device and the
// clock while nothing is posted.
constexpr auto kWatchInterval = std::chrono::milliseconds(250);
// How often it asks the system whether the device's name is still there: for
// a driver that leaves the port's calls working after its device has gone.
// Each question is several calls (server round trips under wine).
constexpr auto kNameCheckInterval = std::chrono::seconds(1);
// A longer time-out is as good as none; beyond about 292 years it would no
// longer fit the clock and the run would end at once.
constexpr double kLongestTimeoutSeconds = 1e9;

}  // namespace

void RequestInterrupt() { g_interrupted.store(true); }
bool InterruptRequested() { return g_interrupted.load(); }

namespace {

// What one event from the worker means for the watching loop: true when the run has ended.
bool TakeEvent(const LinkEvent& event, ProgressView* progress, RunOutcome& outcome) {
    if (const auto* p = std::get_if<Progress>(&event)) {
        if (progress && p->step == Progress::Step::Total) progress->Total(long(p->kb));
        if (progress && p->step == Progress::Step::Position) progress->Position(long(p->kb));
        return false;
    }
    if (const auto* ready = std::get_if<VersionReady>(&event)) {
        outcome.versionBlock = ready->block;
        outcome.end = RunEnd::VersionReady;
        return true;
    }
    const Finished& finished = std::get<Finished>(event);
    outcome.end = RunEnd::Finished;
    outcome.result = finished.result;
    outcome.uploadDoubt = finished.doubt;
    outcome.failure = finished.failure;
    return true;
}

// --trace=json: the events the watching loop takes, and how it ended.
void TraceEvent(JsonTrace& json, const LinkEvent& event) {
    if (const auto* p = std::get_if<Progress>(&event)) {
        if (p->step == Progress::Step::Total) json.Total(long(p->kb));
        else json.Position(long(p->kb));
    } else if (std::holds_alternative<VersionReady>(event)) {
        json.VersionReady();
    } else {
        const Finished& finished = std::get<Finished>(event);
        json.Finished(finished.result, finished.doubt != UploadDoubt::None);
    }
}

const char* EndName(RunEnd end) {
    static const char* const kNames[] = {"finished", "version", "timed out", "vanished", "interrupted", "not started"};
    return kNames[int(end)];
}

}  // namespace

RunOutcome RunLink(const RunSetup& setup, PortHandle port, QueueNotifier& notifier, ProgressView* progress,
                   StderrTracer* tracer) {
    using Clock = std::chrono::steady_clock;
    RunOutcome outcome;
    if (InterruptRequested()) {
        outcome.end = RunEnd::Interrupted;
        return outcome;
    }
    const std::string device = port ? port->Device() : std::string();
    JsonTrace json;
    FrameTracer* frames = tracer && setup.jsonTrace ? static_cast<FrameTracer*>(&json) : tracer;
    LinkSession session(setup, LinkTime(), std::move(port), frames);
    if (!session.Start(&notifier)) {
        outcome.messageBoxes = notifier.Boxes();
        return outcome;
    }

    const double seconds = std::min(setup.timeoutSeconds, kLongestTimeoutSeconds);
    const auto limit = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    auto deadline = Clock::now() + limit;
    auto nextNameCheck = Clock::now();
    for (;;) {
        if (auto event = notifier.Wait(kWatchInterval)) {
            if (frames == &json) TraceEvent(json, *event);
            if (TakeEvent(*event, progress, outcome)) break;
            if (setup.timeoutRestartsOnProgress) deadline = Clock::now() + limit;
        }
        // Checked after every event too: a steady stream of progress must
        // not hide an interrupt or a pulled adapter.
        if (InterruptRequested()) {
            outcome.end = RunEnd::Interrupted;
            break;
        }
        bool nameGone = false;
        if (!device.empty() && Clock::now() >= nextNameCheck) {
            nextNameCheck = Clock::now() + kNameCheckInterval;
            nameGone = DeviceVanished(device);
        }
        if (session.DeviceGone() || nameGone) {
            outcome.end = RunEnd::Vanished;
            break;
        }
        if (Clock::now() >= deadline) {
            outcome.end = RunEnd::TimedOut;
            break;
        }
    }
    if (frames == &json) json.Ended(EndName(outcome.end));
    if (tracer) tracer->Mute();
    session.Stop();
    if (setup.keepPort) *setup.keepPort = session.TakePort();
    if (progress) progress->End();
    outcome.messageBoxes = notifier.Boxes();
    return outcome;
}

}  // namespace tarven::cli
