// Updating several receivers at once: one child process of tarven-link per
// port (the link engine is one per process), followed on one screen, and a
// summary table at the end.
#pragma once

#include <string>
#include <vector>

#include "Commands.h"

namespace tarven::cli {

struct BatchRow {
    std::string port;    // "COM2"
    std::string device;  // "/dev/ttyUSB1", or empty
    int exitStatus = -1;
    std::string outcome;  // "ok" or the reason of the failure
    double seconds = 0;
    std::string verify;  // --verify: "identical", "DIFFERENT at offset N", ...; empty without
};

// A batch's own exit status: 0 when every receiver succeeded; 6 when some
// copy differs, else 5 when some is unconfirmed, and nothing worse happened;
// else 1.
int BatchExitStatus(const std::vector<BatchRow>& rows);

// Port, device, result and time (and the check, when any row has one), one
// line per receiver, under a header line.
std::string FormatBatchSummary(const std::vector<BatchRow>& rows);

// Empty when the targets name distinct devices, else which ones collide.
// `ports` give the devices of targets without a --device.
std::string CheckDistinctTargets(const Options& options, const PortMap& ports);

// Runs `program` once per target with ChildArguments. 0 only when every receiver succeeded.
int RunBatchUpload(const Options& options, const PortMap& ports, Console& console, const std::string& program);

}  // namespace tarven::cli
