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
    std::string verify;      // --verify: "identical", "DIFFERENT at offset N", ...; empty without
    std::string versions{};  // --read-versions: "hardware / software"; empty without
    std::string record{};    // the child's run record as JSON (RunRecord.h); empty when none came
};

// A batch's own exit status: 0 when every receiver succeeded; 6 when some
// copy differs, else 5 when some is unconfirmed, and nothing worse happened;
// else 1.
int BatchExitStatus(const std::vector<BatchRow>& rows);

// Port, device, result and duration (and the check, and the versions read,
// when any row has one), one line per receiver, under a header line.
std::string FormatBatchSummary(const std::vector<BatchRow>& rows);

// Empty when the targets name distinct devices, else which ones collide.
// `ports` give the devices of targets without a --device.
std::string CheckDistinctTargets(const Options& options, const PortMap& ports);

// Runs `program` once per target with ChildArguments. 0 only when every
// receiver succeeded. The table on stdout, or with --json an array of the
// children's records; with --report the children append their own lines,
// and this one only the line of a child that ended without one.
int RunBatchUpload(const Options& options, const PortMap& ports, Console& console, const std::string& program);

}  // namespace tarven::cli
