// One clock for every pause and idle budget of the link. Link time runs
// `speedUp` times faster than real time, so tests can run the protocol's
// 7 s, 50 s and 500 s waits in milliseconds without touching the protocol.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace tarven {

class LinkClock {
public:
    // Link time in microseconds since an arbitrary start.
    std::int64_t NowUs() const;
    // Real milliseconds that `linkMs` of link time take, rounded up, at least 0.
    int RealMs(std::int64_t linkMs) const;
    // Link microseconds that `realUs` of real time (bytes on a wire) stand for.
    std::int64_t LinkUsOfReal(std::int64_t realUs) const { return std::int64_t(double(realUs) * SpeedUp()); }
    double SpeedUp() const { return speedUp_.load(std::memory_order_relaxed); }
    void SetSpeedUp(double factor);

private:
    std::atomic<double> speedUp_{1.0};
    // Link time accumulated before the last factor change, so time never jumps back.
    std::atomic<std::int64_t> baseLinkUs_{0};
    std::atomic<std::int64_t> baseRealUs_{0};
};

// The process-wide clock every LinkEngine uses.
LinkClock& LinkTime();

}  // namespace tarven
