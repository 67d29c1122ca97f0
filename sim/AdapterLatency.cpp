#include "AdapterLatency.h"

#include <algorithm>
#include <vector>

namespace tarven::sim {

void AdapterLatency::Take(const std::uint8_t* bytes, std::size_t count, std::int64_t firstUs, std::int64_t byteUs) {
    for (std::size_t i = 0; i < count; ++i) {
        if (open_.empty()) openSinceUs_ = firstUs + byteUs * std::int64_t(i);
        open_.push_back(bytes[i]);
        if (open_.size() == kPacketDataBytes) {
            ready_.insert(ready_.end(), open_.begin(), open_.end());
            open_.clear();
        }
    }
}

std::int64_t AdapterLatency::Flush(SerialPort& port, std::int64_t now, std::int64_t latencyUs) {
    if (!open_.empty() && now >= openSinceUs_ + latencyUs) {
        ready_.insert(ready_.end(), open_.begin(), open_.end());
        open_.clear();
    }
    if (!ready_.empty()) {
        const std::vector<std::uint8_t> chunk(ready_.begin(), ready_.end());
        const int written = port.WriteSome(chunk.data(), int(chunk.size()));
        if (written == SerialPort::kGone) return kGone;
        if (written > 0) ready_.erase(ready_.begin(), ready_.begin() + written);
        // The terminal's queue is full: try again in a millisecond.
        if (!ready_.empty()) return now + 1000;
    }
    return open_.empty() ? kNothingDue : openSinceUs_ + latencyUs;
}

void AdapterLatency::Clear() {
    ready_.clear();
    open_.clear();
}

}  // namespace tarven::sim
