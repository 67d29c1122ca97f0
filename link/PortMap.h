// Which device each of COM1..COM6 stands for, and the port operations that go
// through that mapping. The window and tarven-link each build one in main and
// hand it to whatever lists, probes or opens ports; a test builds its own, so
// nothing it runs can reach one of the machine's serial ports.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "LinkConstants.h"
#include "PortAccess.h"
#include "PortSettings.h"
#include "SerialPort.h"

namespace tarven {

class PortMap {
public:
    // The machine's ports, looked up afresh whenever a device is asked for,
    // so an adapter plugged in after the start is still found.
    //  - Linux: when any TARVEN_COM<n> variable is set, exactly those
    //    variables decide. Otherwise the serial devices present: ttyUSB<k>,
    //    then ttyACM<k>, then on-board ttyS<k> whose UART is real; never the
    //    system console.
    //  - Windows: the system's own COM1 to COM6, and the system's other
    //    ports by their own names (OtherPorts).
    static PortMap Machine();
    // Exactly these devices; an empty string maps nothing to its port.
    explicit PortMap(std::array<std::string, kPortCount> devices);
    // No port at all: a run that was handed its port opens no other.
    static PortMap None() { return PortMap(std::array<std::string, kPortCount>{}); }

    // Puts `device` in place of the mapping of one port (tarven-link
    // --device); an empty string restores the mapping. Indices outside 0..5
    // are ignored.
    void Override(int portIndex, const std::string& device);
    // The file that lists the terminals the system console runs on, which
    // are never ports; empty: the kernel's own. Linux only.
    void SetConsoleList(const std::string& path) { consoleList_ = path; }

    std::array<std::string, kPortCount> Devices() const;
    // Empty when the port has no device, or the index names no port.
    std::string Device(int portIndex) const;
    // Serial devices the machine's mapping leaves out because the system
    // console runs on them, for `tarven-link ports` to name. Empty when
    // nothing was left out: the variables or a fixed mapping decide.
    std::vector<std::string> ConsoleDevices() const;

    // The system's ports beyond COM1..COM6 ("COM7", "COM12"), in number
    // order; none on Linux and in a fixed mapping.
    std::vector<std::string> OtherPorts() const;
    // The device of a port by name: COM1..COM6 through the mapping, others
    // only where the system has them. Empty when there is none.
    std::string DeviceNamed(const std::string& name) const;
    PortStatus DescribeNamed(const std::string& name) const;

    PortStatus Describe(int portIndex) const;
    // Opens the port and closes it again: whether it can be opened right now.
    bool CanOpen(int portIndex) const;
    // Opens the port of settings.portName, or when that is empty of
    // settings.portIndex (indices outside 0..5 mean COM1), exclusively and applies the settings. Null when it cannot be
    // opened, with `status` (may be null) saying why.
    PortHandle Open(const PortSettings& settings, PortStatus* status = nullptr) const;

private:
    PortMap() = default;
    std::string DeviceOf(const PortSettings& settings) const;
    // The mapping before any override.
    std::array<std::string, kPortCount> Mapped() const;

    bool machine_ = false;
    std::array<std::string, kPortCount> fixed_;
    std::array<std::string, kPortCount> overrides_;
    std::string consoleList_;
};

}  // namespace tarven
