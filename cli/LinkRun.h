// One link run of tarven-link: the engine and its worker, exactly as the
// window drives them, watched by the main thread for its end, a time-out, a
// vanished device or an interrupt.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CliNotifier.h"
#include "LinkEngine.h"
#include "LinkSession.h"
#include "Progress.h"
#include "SerialPort.h"

namespace tarven::cli {

// True when the device node has disappeared (a USB adapter pulled; the other
// side of a pseudo-terminal closed).
bool DeviceVanished(const std::string& device);

// Ctrl-C and SIGTERM only set this; the run loop ends the worker cleanly so
// the port's exclusive hold is released.
void RequestInterrupt();
bool InterruptRequested();

// The run's request, and how tarven-link watches it.
struct RunSetup : RunRequest {
    double timeoutSeconds = 30;
    // Transfers: the time-out restarts with every progress message, so only a
    // run that stopped moving ends. Version query: one limit for the whole run.
    bool timeoutRestartsOnProgress = false;
    // When set, the port comes back here after the run instead of being
    // closed, so a read-back can follow on the same open line.
    PortHandle* keepPort = nullptr;
    // --trace=json: the traced frames go out as JSON lines (TraceJson.h).
    bool jsonTrace = false;
};

enum class RunEnd { Finished, VersionReady, TimedOut, Vanished, Interrupted, NotStarted };

struct RunOutcome {
    RunEnd end = RunEnd::NotStarted;
    int result = -1;  // the finishing event's result when Finished
    std::array<std::uint8_t, kVersionBlockSize> versionBlock{};
    std::vector<std::string> messageBoxes;
    // Why a transfer ended short when its file, not the line, let it down.
    RunFailure failure;
    UploadDoubt uploadDoubt = UploadDoubt::None;  // an upload's, beside its result
};

// Runs one exchange on an already opened port and tears the engine down again.
// `progress` and `tracer` may be null.
RunOutcome RunLink(const RunSetup& setup, PortHandle port, QueueNotifier& notifier, ProgressView* progress,
                   StderrTracer* tracer);

}  // namespace tarven::cli
