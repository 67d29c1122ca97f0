// A USB serial adapter between the receiver's line and the program: the bytes
// that have crossed the line are handed on in 64-byte USB packets, 62 of them
// data. A full packet goes at once; one not yet full waits until the adapter's
// latency timer has run out since its first byte. This is what makes every
// short acknowledgement of a stop-and-wait exchange cost the timer.
// Thread ownership: the line thread alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "PtyPort.h"

namespace tarven::sim {

class AdapterLatency {
public:
    static constexpr std::size_t kPacketDataBytes = 62;
    static constexpr std::int64_t kNothingDue = INT64_MAX;
    static constexpr std::int64_t kGone = INT64_MIN;

    // `count` bytes crossed the line, the first of them complete at
    // `firstUs`, each next one `byteUs` later (0: all at once).
    void Take(const std::uint8_t* bytes, std::size_t count, std::int64_t firstUs, std::int64_t byteUs);
    // Hands on to the program what is due by `now`: full packets, and the
    // unfinished one once `latencyUs` has passed since its first byte
    // (0: at once). Returns when it next needs attention, or kGone.
    std::int64_t Flush(SerialPort& port, std::int64_t now, std::int64_t latencyUs);
    bool Empty() const { return ready_.empty() && open_.empty(); }
    void Clear();

private:
    std::deque<std::uint8_t> ready_;  // whole packets, in order, not yet taken by the terminal
    std::deque<std::uint8_t> open_;   // the packet still filling
    std::int64_t openSinceUs_ = 0;    // when its first byte crossed the line
};

}  // namespace tarven::sim
