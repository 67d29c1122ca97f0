#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <thread>

#include "WakeEvent.h"

namespace tarven {

WakeEvent::WakeEvent() : native_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

WakeEvent::~WakeEvent() {
    if (Valid()) ::close(int(native_));
}

bool WakeEvent::Valid() const { return native_ >= 0; }

void WakeEvent::Signal() {
    if (!Valid()) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(int(native_), &one, sizeof one);
}

void WakeEvent::Clear() {
    if (!Valid()) return;
    std::uint64_t drained;
    [[maybe_unused]] ssize_t n = ::read(int(native_), &drained, sizeof drained);
}

bool WakeEvent::Wait(int maxMs) const {
    if (!Valid()) {
        if (maxMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(maxMs));
        return false;
    }
    pollfd wake{int(native_), POLLIN, 0};
    return ::poll(&wake, 1, maxMs < 0 ? 0 : maxMs) > 0;
}

}  // namespace tarven
