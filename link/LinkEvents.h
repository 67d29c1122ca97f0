// What a run reports while it goes, as values: the worker builds one of these
// where it reaches a step, and every watcher (the progress dialog, tarven-link,
// a test) reads the same value instead of decoding message numbers again.
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

// The version exchange is complete. The block is the first 100 bytes of the
// engine's version buffer, taken when the worker reported it: the query keeps
// listening afterwards, so the buffer itself may change under a late reader.
struct VersionReady {
    std::array<std::uint8_t, kVersionBlockSize> block{};
};

// A transfer ended. result: kResultFailure, kResultSuccess or
// kResultLengthMismatch. unconfirmed: beside a success, why the receiver's
// copy is in doubt (None when every answer came in turn).
struct Finished {
    std::int32_t result = kResultFailure;
    UploadDoubt unconfirmed = UploadDoubt::None;
};

using LinkEvent = std::variant<Progress, VersionReady, Finished>;

// The window message that carries `event`: WM_LINK_PROGRESS or WM_LINK_EVENT.
inline unsigned WindowMessageOf(const LinkEvent& event) {
    return std::holds_alternative<Progress>(event) ? WM_LINK_PROGRESS : WM_LINK_EVENT;
}

}  // namespace tarven
