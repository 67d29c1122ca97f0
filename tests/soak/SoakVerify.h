// The check a technician runs after an upload (tarven-link upload --verify):
// the receiver's copy read back over the same faulty line and compared with
// the image sent.
#pragma once

#include <cstdint>

#include "SimReceiver.h"
#include "SoakSupport.h"

namespace tarven::soak {

enum class VerifyVerdict {
    NotRun,
    Identical,  // the read-back came back whole and equal to the image
    Different,  // it came back whole and differs: tarven-link's exit 6
    NotDone,    // it did not come back whole (result 2, watchdog): exit 5
};
const char* Name(VerifyVerdict verdict);

// Reads the receiver's copy of an upload of `kind` back on a new engine over
// `sim` (which must serve its last upload) and compares it with `image`.
// `linkSpeedUp`: the link clock speed for the read-back; `boundLinkMs`: its watchdog.
VerifyVerdict VerifyByReadBack(sim::SimReceiver& sim, const Bytes& image, std::int32_t kind, double linkSpeedUp,
                               int boundLinkMs);

}  // namespace tarven::soak
