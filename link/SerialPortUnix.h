// The port layer on a POSIX terminal device. Only this file and its .cpp know termios.
#pragma once

#include <string>

#include "PortAccess.h"
#include "SerialPort.h"

namespace tarven {

class UnixSerialPort final : public SerialPort {
public:
    // Opens `device` exclusively: O_NOCTTY|O_NONBLOCK, then flock (which holds
    // against root too), then TIOCEXCL. Null with `status` filled on failure.
    static PortHandle Open(const std::string& device, PortStatus* status);
    ~UnixSerialPort() override;

    int ReadQueued(std::uint8_t* destination, int maxBytes) override;
    void WaitForInput(int maxMs, const WakeEvent* wake) override;
    int WriteSome(const std::uint8_t* source, int count) override;
    void WaitForOutput(int maxMs, const WakeEvent* wake) override;
    void Purge() override;
    bool Apply(const PortSettings& settings) override;
    std::string Device() const override { return device_; }

private:
    UnixSerialPort(int fd, std::string device) : fd_(fd), device_(std::move(device)) {}
    void Wait(short events, int maxMs, const WakeEvent* wake);

    int fd_;
    std::string device_;
};

// The one place where an errno from opening a device becomes our own state.
PortState PortStateFromErrno(int error);

}  // namespace tarven
