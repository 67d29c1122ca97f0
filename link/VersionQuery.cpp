// Asks the receiver for its version record and hands the first 100 bytes to
// whoever watches the run. The run never ends by itself: the dialog tears it
// down once the block is ready, or the technician cancels.
#include <algorithm>
#include <cstring>

#include "LinkEngine.h"
#include "PortAccess.h"

namespace tarven {
namespace {

// A round of the port search that found nothing waits this long in real time,
// so a search for a missing adapter never burns a core.
constexpr int kPortSearchYieldMs = 5;

}  // namespace

// The chosen port first, then COM1 and COM2 as fallbacks, round after round
// until one opens or the run is stopped. False only when stopped.
static bool AcquireVersionPort(LinkEngine& engine) {
    const int chosen = engine.settings.portIndex;
    while (!engine.StopRequested()) {
        engine.settings.portIndex = chosen;
        if (engine.port) return true;
        if ((engine.port = OpenPort(engine.settings))) return true;
        for (int fallback : {0, 1}) {
            if (fallback == chosen) continue;
            engine.settings.portIndex = fallback;
            if ((engine.port = OpenPort(engine.settings))) return true;
        }
        engine.YieldMs(kPortSearchYieldMs);
    }
    return false;
}

void LinkEngine::RunVersionQuery() {
    if (!AcquireVersionPort(*this)) return;

    Post(WM_LINK_PROGRESS, kProgressTotal, kVersionTotal);
    SendCommand(kCodeVersionRequest);
    Post(WM_LINK_PROGRESS, kProgressPosition, kVersionRequested);
    std::fill(versionBuffer.begin(), versionBuffer.end(), 0);
    std::size_t writeOffset = 0;
    // Room for the largest payload a frame can carry, so no data frame is ever
    // refused unacknowledged: a receiver waits for the acknowledgement and
    // would send the same frame again and again.
    std::vector<std::uint8_t> receiveBuffer(kMaxPayload);

    while (!StopRequested()) {
        std::uint32_t length = 0;
        const int result = ReceiveFrame(receiveBuffer, &length, kVersionRecvTimeout);
        if (StopRequested()) break;
        switch (result) {
            case kRecvDataFrame: {
                // What does not fit the version buffer is dropped, yet acknowledged:
                // only the first 100 bytes are ever shown.
                const std::size_t room = versionBuffer.size() - writeOffset;
                const std::size_t take = std::min<std::size_t>(length, room);
                if (take) std::memcpy(versionBuffer.data() + writeOffset, receiveBuffer.data(), take);
                writeOffset += take;
                SendCommand(kCodeAck);
                Post(WM_LINK_PROGRESS, kProgressPosition, kVersionTotal);
                break;
            }
            case kCodeVersionEnd:
            case kCodeVersionEndAlt:
                SendCommand(kCodeAck);
                Post(WM_LINK_PROGRESS, kProgressPosition, kVersionTotal);
                Post(WM_LINK_EVENT, kEventVersionReady, 0);
                break;
            case kCodeStandBy:
                Pause(kVersionBusyPauseMs);
                break;
            case kRecvTimeout:
                SendCommand(kCodeVersionRequest);
                break;
            case kRecvShortFrame:
            case kRecvBadCrc:
                Pause(kVersionBadFramePauseMs);
                PurgePort();
                SendCommand(kCodeRepeat);
                break;
            default:
                // Bad magic, no memory and codes this exchange does not know
                // are ignored without an answer.
                break;
        }
    }
}

}  // namespace tarven
