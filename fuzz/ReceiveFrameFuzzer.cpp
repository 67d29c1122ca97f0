// Arbitrary bytes on the line must never crash the receiver side, never write
// past the caller's buffer, and always give a result from the documented set.
#include <cstdlib>
#include <vector>

#include "LinkEngine.h"
#include "MemoryPort.h"

using namespace tarven;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    // Silence on a memory line is instant: every budget is spent at once.
    LinkTime().SetSpeedUp(1e9);
    // Room 0 stands for no destination at all: the payload is checked and dropped.
    const std::size_t room = data[0] * 32u;
    auto owned = std::make_unique<fuzz::MemoryPort>(data + 1, size - 1);
    fuzz::MemoryPort& port = *owned;
    RunRequest request;
    request.mode = LinkMode::ReadBack;
    LinkEngine engine(request, LinkTime(), std::move(owned));
    std::vector<std::uint8_t> destination(room);
    for (int frames = 0; frames < 10000 && !port.Exhausted(); ++frames) {
        std::uint32_t length = 0;
        const int result = engine.ReceiveFrame(destination, &length, 1);
        const bool known = (result >= 0 && result <= 0xFFFF) || (result >= kRecvTooLarge && result <= kRecvNoMemory);
        if (!known || (result == kRecvDataFrame && room > 0 && length > room)) std::abort();
    }
    return 0;
}
