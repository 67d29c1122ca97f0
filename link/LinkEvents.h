// What a run reports while it goes, as values: the worker builds one of these
// where it reaches a step, and every watcher (the progress dialog, tarven-link,
// a test) reads the same value.
#pragma once

#include <array>
#include <cstdint>
#include <variant>

#include "LinkConstants.h"

namespace tarven {

struct Progress {
    enum class Step : std::uint8_t { Total, Position };
    Step step;
    // KB of 1,024 bytes, rounded down; a version query counts 50 and 100 of 100.
    std::int64_t kb;
};

// The version exchange is complete. The block is the first 100 bytes the
// receiver sent, taken when the worker reported it: the query keeps
// listening afterwards, so later frames never change a block already handed on.
struct VersionReady {
    std::array<std::uint8_t, kVersionBlockSize> block{};
};

// Why a transfer ended short when the receiver's answers were not to blame:
// its file, or the PC's own port, let it down. Tools that can say more than
// the window's texts read it.
enum class RunFault : std::uint8_t {
    None,
    ImageUnreadable,   // the upload's image could not be opened or read whole
    OutputNotCreated,  // the read-back's file could not be created
    OutputNotWritten,  // the read-back's file refused bytes (disk full)
    ImageTooLarge,     // the receiver sent more than the read-back buffer holds
    SpeedRefused,      // the port's driver refused the speed the receiver asked for
};

struct RunFailure {
    RunFault fault = RunFault::None;
    int error = 0;  // the errno behind the fault, 0 when there is none
    bool operator==(const RunFailure&) const = default;
};

// A transfer ended. result: kResultFailure, kResultSuccess or
// kResultLengthMismatch. doubt: beside a success, why the receiver's copy is
// in doubt (None when every answer came in turn).
struct Finished {
    std::int32_t result = kResultFailure;
    UploadDoubt doubt = UploadDoubt::None;
    RunFailure failure{};
};

using LinkEvent = std::variant<Progress, VersionReady, Finished>;

}  // namespace tarven
