// The port layer: what the link needs from a serial line, whatever stands
// behind it. The platform files (SerialPortUnix.cpp on a tty, SerialPortWin.cpp
// on a COM port) implement it;
// the simulated receiver implements it on its side of a pseudo-terminal and
// the tests and fuzzers implement it in memory. Nothing above this interface
// knows termios.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "PortSettings.h"
#include "WakeEvent.h"

namespace tarven {

class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Copies up to maxBytes bytes that are already queued; never waits.
    // Returns the count (0 when nothing is queued) or kGone when the device
    // has vanished (adapter pulled, other side of a pseudo-terminal closed).
    virtual int ReadQueued(std::uint8_t* destination, int maxBytes) = 0;

    // Waits up to maxMs for input, returning early when bytes arrive or when
    // `wake` (may be null) is signalled. While the device is gone it sleeps
    // (up to a wait slice), so a caller in a loop never spins.
    virtual void WaitForInput(int maxMs, const WakeEvent* wake) = 0;

    // How many input bytes a read would take now, found without taking them
    // (a read can cost far more: several server round trips under wine);
    // kUnknown where the port cannot tell, or the device is gone.
    virtual int InputAvailable() { return kUnknown; }

    // Non-blocking write of what the driver takes now: the count taken (may be
    // 0 when its queue is full) or kGone.
    virtual int WriteSome(const std::uint8_t* source, int count) = 0;

    // Waits up to maxMs until the driver can take more output (or `wake` fires).
    virtual void WaitForOutput(int maxMs, const WakeEvent* wake) = 0;

    // Discards pending input and output.
    virtual void Purge() = 0;

    // Bytes a write handed over that the driver has not yet put on the wire:
    // a UART or USB adapter queues them, a pseudo-terminal does not. 0 where
    // the driver cannot tell, kGone when the device has vanished.
    virtual int OutputQueued() = 0;

    // Drops the output still queued, without waiting for it.
    virtual void DiscardOutput() = 0;

    // Applies speed, framing and handshake lines; false when the driver refused.
    virtual bool Apply(const PortSettings& settings) = 0;

    // The device this port stands for, for messages ("/dev/ttyUSB0").
    virtual std::string Device() const = 0;

    static constexpr int kGone = -1;
    static constexpr int kUnknown = -2;
};

using PortHandle = std::unique_ptr<SerialPort>;

}  // namespace tarven
