// The port layer on a POSIX terminal device. Only this file and its .cpp know termios.
#pragma once

#include <termios.h>

#include <optional>
#include <string>
#include <vector>

#include "PortAccess.h"
#include "SerialPort.h"

namespace tarven {

class UnixSerialPort final : public SerialPort {
public:
    // Opens `device` exclusively: O_NOCTTY|O_NONBLOCK, then flock (which holds
    // against root too), then TIOCEXCL. A terminal another program holds
    // exclusively, the system console and this process's own terminal are
    // refused without changing anything on them. `consoleList` names the file
    // that lists the console's terminals (SystemConsoles). Null with `status`
    // filled on failure.
    static PortHandle Open(const std::string& device, PortStatus* status, const std::string& consoleList = {});
    // Puts the terminal settings found at open back and closes; output still
    // queued is discarded rather than waited for.
    ~UnixSerialPort() override;

    int ReadQueued(std::uint8_t* destination, int maxBytes) override;
    void WaitForInput(int maxMs, const WakeEvent* wake) override;
    int InputAvailable() override;
    int WriteSome(const std::uint8_t* source, int count) override;
    void WaitForOutput(int maxMs, const WakeEvent* wake) override;
    void Purge() override;
    int OutputQueued() override;
    void DiscardOutput() override;
    bool Apply(const PortSettings& settings) override;
    std::string Device() const override { return device_; }

private:
    UnixSerialPort(int fd, std::string device, const termios& found)
        : fd_(fd), device_(std::move(device)), found_(found) {}
    void Wait(short events, int maxMs, const WakeEvent* wake);

    int fd_;
    std::string device_;
    termios found_;  // the settings the terminal had before we opened it
    // The driver's serial flags before low latency was asked for; nothing
    // when the driver had it already, or does not take the request.
    std::optional<int> serialFlags_;
};

// The one place where an errno from opening a device becomes our own state.
PortState PortStateFromErrno(int error);

// Where the kernel lists its active consoles.
inline constexpr char kKernelConsoleList[] = "/sys/class/tty/console/active";

// The active consoles as `consoleList` names them, as device paths
// ("/dev/ttyS0"); an empty name stands for kKernelConsoleList.
std::vector<std::string> SystemConsoles(const std::string& consoleList);
// True when `device` is one of those terminals.
bool IsSystemConsole(const std::string& device, const std::string& consoleList);

}  // namespace tarven
