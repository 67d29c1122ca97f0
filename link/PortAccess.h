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

// Discards output still queued for the line, then closes.
void ClosePort(PortHandle& port);

// Text for a state, e.g. "held by another program".
std::string DescribePortState(const PortStatus& status);

}  // namespace tarven
