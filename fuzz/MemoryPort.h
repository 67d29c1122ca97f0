// A serial line made of a byte string: the fuzzers feed arbitrary input
// through the same port interface the engine uses on a real device.
#pragma once

#include <algorithm>
#include <cstring>

#include "SerialPort.h"

namespace tarven::fuzz {

class MemoryPort final : public SerialPort {
public:
    MemoryPort(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    int ReadQueued(std::uint8_t* destination, int maxBytes) override {
        // Hand the bytes out in uneven pieces, as a driver does.
        const std::size_t piece = std::min<std::size_t>({std::size_t(maxBytes), size_ - pos_, 1 + pos_ % 37});
        if (piece) std::memcpy(destination, data_ + pos_, piece);
        pos_ += piece;
        return int(piece);
    }
    void WaitForInput(int, const WakeEvent*) override {}
    int WriteSome(const std::uint8_t*, int count) override { return count; }
    void WaitForOutput(int, const WakeEvent*) override {}
    void Purge() override {}
    int OutputQueued() override { return 0; }
    void DiscardOutput() override {}
    bool Apply(const PortSettings&) override { return true; }
    std::string Device() const override { return "memory"; }
    bool Exhausted() const { return pos_ >= size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace tarven::fuzz
