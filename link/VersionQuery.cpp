// Asks the receiver for its version record and hands the first 100 bytes to
// whoever watches the run. The run never ends by itself: the dialog tears it
// down once the block is ready, or the technician cancels.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include "LinkEngine.h"
#include "PortAccess.h"

namespace tarven {
namespace {

// A round of the port search that found nothing waits this long in real time,
// so a search for a missing adapter never burns a core.
constexpr int kPortSearchYieldMs = 5;

// The chosen port first, then COM1 and COM2 as fallbacks, round after round
// until one opens or the run is stopped. False only when stopped.
bool AcquireVersionPort(LinkEngine& engine) {
    if (engine.HasPort()) return true;
    const int chosen = engine.Settings().portIndex;
    const std::string chosenName = engine.Settings().portName;
    while (!engine.StopRequested()) {
        const int candidates[] = {chosen, 0, 1};
        for (std::size_t i = 0; i < std::size(candidates); ++i) {
            const int index = candidates[i];
            if (i > 0 && index == chosen && chosenName.empty()) continue;
            PortSettings settings = engine.Settings();
            settings.portIndex = index;
            settings.portName = i == 0 ? chosenName : std::string();
            if (PortHandle port = engine.Ports().Open(settings)) {
                engine.UsePort(std::move(port), index, settings.portName);
                return true;
            }
        }
        engine.YieldMs(kPortSearchYieldMs);
    }
    return false;
}

// One version query's state: the buffer the receiver's frames fill.
class VersionExchange {
public:
    explicit VersionExchange(LinkEngine& engine) : e_(engine) {}
    void Run();

private:
    void OnDataFrame(std::uint32_t length);
    void OnEnd();

    LinkEngine& e_;
    std::vector<std::uint8_t> version_ = std::vector<std::uint8_t>(kVersionBufferSize, 0);
    std::size_t writeOffset_ = 0;
    // Room for the largest payload a frame can carry, so no data frame is ever
    // refused unacknowledged: a receiver waits for the acknowledgement and
    // would send the same frame again and again.
    std::vector<std::uint8_t> receive_ = std::vector<std::uint8_t>(kMaxPayload);
};

void VersionExchange::Run() {
    if (!AcquireVersionPort(e_)) return;

    e_.Report(Progress{Progress::Step::Total, kVersionTotal});
    e_.SendCommand(kCodeVersionRequest);
    e_.Report(Progress{Progress::Step::Position, kVersionRequested});

    while (!e_.StopRequested()) {
        std::uint32_t length = 0;
        const int result = e_.ReceiveFrame(receive_, &length, kVersionRecvTimeout);
        if (e_.StopRequested()) break;
        switch (result) {
            case kRecvDataFrame: OnDataFrame(length); break;
            case kCodeVersionEnd:
            case kCodeVersionEndAlt: OnEnd(); break;
            case kCodeStandBy: e_.Pause(kVersionBusyPauseMs); break;
            case kRecvTimeout: e_.SendCommand(kCodeVersionRequest); break;
            case kRecvShortFrame:
            case kRecvBadCrc:
                e_.Pause(kVersionBadFramePauseMs);
                e_.PurgePort();
                e_.SendCommand(kCodeRepeat);
                break;
            default:
                // Bad magic, no memory and codes this exchange does not know
                // are ignored without an answer.
                break;
        }
    }
}

void VersionExchange::OnDataFrame(std::uint32_t length) {
    // What does not fit the version buffer is dropped, yet acknowledged:
    // only the first 100 bytes are ever shown.
    const std::size_t take = std::min<std::size_t>(length, version_.size() - writeOffset_);
    if (take) std::memcpy(version_.data() + writeOffset_, receive_.data(), take);
    writeOffset_ += take;
    e_.SendCommand(kCodeAck);
    e_.Report(Progress{Progress::Step::Position, kVersionTotal});
}

void VersionExchange::OnEnd() {
    e_.SendCommand(kCodeAck);
    e_.Report(Progress{Progress::Step::Position, kVersionTotal});
    VersionReady ready;
    std::copy_n(version_.begin(), ready.block.size(), ready.block.begin());
    e_.Report(ready);
}

}  // namespace

void LinkEngine::RunVersionQuery() { VersionExchange(*this).Run(); }

}  // namespace tarven
