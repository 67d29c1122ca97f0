// Opening, describing and closing serial devices. Which device a COM name
// stands for is PortMap's.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "PortSettings.h"
#include "SerialPort.h"

namespace tarven {

// Why a port can or cannot be opened right now, for messages such as `tarven-link ports`.
enum class PortState {
    Available,
    NoDevice,          // no device is mapped to this name
    Missing,           // the mapped device does not exist
    Busy,              // held by another program, or by this one
    PermissionDenied,  // the user lacks access (dialout group)
    NotATerminal,      // the path exists but is no serial device
    SystemConsole,     // the kernel's console runs on it: never a COM port
    OwnTerminal,       // the terminal this program itself runs in
    SettingsRefused,   // the driver refused the line settings (a speed it cannot make)
    OtherError,
};

struct PortStatus {
    PortState state = PortState::NoDevice;
    std::string device;  // empty when no device is mapped
    int error = 0;       // errno behind the state, for the message
};

// Opens a device path directly, exclusively, with the given settings.
PortHandle OpenDevice(const std::string& device, const PortSettings& settings, PortStatus* status = nullptr);

// The device behind a system port beyond COM1..COM6 ("COM7" on Windows);
// empty where the system has no such port, and always on Linux.
std::string SystemPortDevice(const std::string& name);

// What the system says about the adapter behind a device: its friendly name
// or maker and product, and for USB adapters VID:PID and serial, e.g.
// "FTDI FT232R USB UART, USB 0403:6001, serial A10K3ZQ1". Empty when nothing
// is known.
std::string AdapterDescription(const std::string& device);

// Discards output still queued for the line, then closes.
void ClosePort(PortHandle& port);

// Text for a state, e.g. "held by another program".
std::string DescribePortState(const PortStatus& status);

}  // namespace tarven
