// Which device each of COM1..COM6 stands for, and opening, probing and
// closing those ports. The same mapping serves the window and tarven-link.
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

// Devices standing for COM1..COM6 (empty string: none). Reads the
// environment and /dev each time it is called.
//  - When any TARVEN_COM<n> variable is set, exactly those variables decide.
//  - Otherwise the serial devices present: ttyUSB<k>, then ttyACM<k>, then
//    on-board ttyS<k> whose UART is real; never the system console.
std::array<std::string, 6> PortDevices();
std::string PortDevice(int portIndex);

// Serial devices discovery leaves out because the system console runs on
// them, for `tarven-link ports` to name. Empty where there is no such device,
// and when the TARVEN_COM<n> variables decide the mapping.
std::vector<std::string> ConsoleDevices();

// Puts `device` in place of the mapping for all ports of this process
// (tarven-link --device). An empty string restores the normal mapping.
void OverridePortDevice(int portIndex, const std::string& device);
void ClearPortOverrides();
// The devices put in place so far, empty where none was.
std::array<std::string, 6> PortOverrides();

// 1 when the port of this index can be opened right now (and closes it again), else 0.
int ProbePort(int portIndex);
PortStatus DescribePort(int portIndex);

// Opens the port of settings.portIndex (indices outside 0..5 mean COM1),
// exclusively, and applies the settings. Null when it cannot be opened.
PortHandle OpenPort(PortSettings settings);
// Opens a device path directly, exclusively, with the given settings.
PortHandle OpenDevice(const std::string& device, const PortSettings& settings, PortStatus* status = nullptr);
// Discards output still queued for the line, then closes.
void ClosePort(PortHandle& port);

// Text for a state, e.g. "held by another program".
std::string DescribePortState(const PortStatus& status);

}  // namespace tarven
