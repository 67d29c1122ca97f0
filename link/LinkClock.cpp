#include "LinkClock.h"

#include <cmath>

namespace tarven {
namespace {

std::int64_t RealNowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

std::int64_t LinkClock::NowUs() const {
    const std::int64_t realDelta = RealNowUs() - baseRealUs_.load(std::memory_order_relaxed);
    return baseLinkUs_.load(std::memory_order_relaxed) + std::int64_t(double(realDelta) * SpeedUp());
}

int LinkClock::RealMs(std::int64_t linkMs) const {
    if (linkMs <= 0) return 0;
    return int(std::ceil(double(linkMs) / SpeedUp()));
}

void LinkClock::SetSpeedUp(double factor) {
    if (!(factor > 0)) factor = 1.0;
    // Tests change the factor between runs only, so the small race between
    // these stores is harmless; link time stays monotonic across a change.
    const std::int64_t now = NowUs();
    baseRealUs_.store(RealNowUs(), std::memory_order_relaxed);
    baseLinkUs_.store(now, std::memory_order_relaxed);
    speedUp_.store(factor, std::memory_order_relaxed);
}

LinkClock& LinkTime() {
    static LinkClock clock;
    return clock;
}

}  // namespace tarven
