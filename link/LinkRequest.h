// What a command decides about a run before it starts, and nothing the run
// finds out.
#pragma once

#include <string>

#include "LinkConstants.h"

namespace tarven {

struct RunRequest {
    LinkMode mode = LinkMode::VersionQuery;
    int portIndex = 0;       // 0..5 for COM1..COM6, at the normal line settings
    std::string fileName{};  // the image sent or written; also shown in the status line
    ImageKind kind = ImageKind::FullImage;
    AccessLevel level = AccessLevel::Standard;
    // A port beyond COM1..COM6 by its own name ("COM7"); empty: portIndex decides.
    std::string portName{};
};

}  // namespace tarven
