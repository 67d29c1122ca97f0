#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "LinkConstants.h"
#include "PortAccess.h"
#include "PortMap.h"
#include "SerialPortWin.h"

namespace tarven {
namespace {

// "COM12" or "\\.\COM12" in the form CreateFile needs for every port number.
std::string DeviceName(const std::string& name) {
    if (name.rfind("\\\\.\\", 0) == 0) return name;
    const bool comName = name.size() > 3 && (name[0] == 'C' || name[0] == 'c') && (name[1] == 'O' || name[1] == 'o') &&
                         (name[2] == 'M' || name[2] == 'm') &&
                         name.find_first_not_of("0123456789", 3) == std::string::npos;
    return comName ? "\\\\.\\" + name : name;
}

// The bare port name ("COM3") of a device name.
std::string PortNameOf(const std::string& device) {
    return device.rfind("\\\\.\\", 0) == 0 ? device.substr(4) : device;
}

// The registry's serial-port map: each entry's device ("\Device\VCP0") and
// the port name it stands for ("COM3"), as Windows lists them.
std::vector<std::pair<std::string, std::string>> SerialCommMap() {
    std::vector<std::pair<std::string, std::string>> map;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return map;
    for (DWORD i = 0;; ++i) {
        char name[256];
        BYTE data[256];
        DWORD nameSize = sizeof name, dataSize = sizeof data - 1, type = 0;
        if (::RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) break;
        if (type != REG_SZ) continue;
        data[dataSize] = 0;
        map.emplace_back(std::string(name, nameSize), reinterpret_cast<const char*>(data));
    }
    ::RegCloseKey(key);
    return map;
}

// What the system calls the device behind a port ("\Device\VCP0"); empty
// when Windows does not list it.
std::string DriverName(const std::string& device) {
    const std::string port = PortNameOf(device);
    for (const auto& [driver, name] : SerialCommMap())
        if (_stricmp(name.c_str(), port.c_str()) == 0) return driver;
    return {};
}

// The number of "COM12" or "\\.\COM12"; 0 for any other name.
int ComNumber(const std::string& name) {
    const std::string port = PortNameOf(name);
    if (port.size() < 4 || port.size() > 6 || _strnicmp(port.c_str(), "COM", 3) != 0 ||
        port.find_first_not_of("0123456789", 3) != std::string::npos)
        return 0;
    return std::atoi(port.c_str() + 3);
}

// The port names of the registry's serial-port map ("COM1", "COM7").
std::vector<std::string> SerialCommPorts() {
    std::vector<std::string> ports;
    for (auto& entry : SerialCommMap()) ports.push_back(std::move(entry.second));
    return ports;
}

std::string SystemMessage(DWORD error) {
    char text[256] = {};
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                     text, sizeof text, nullptr);
    std::string message(text, n);
    while (!message.empty() && std::isspace(static_cast<unsigned char>(message.back()))) message.pop_back();
    return message.empty() ? "error " + std::to_string(error) : message;
}

}  // namespace

// COM1 to COM6 are the system's own ports of those names.
std::array<std::string, kPortCount> PortMap::Mapped() const {
    if (!machine_) return fixed_;
    std::array<std::string, kPortCount> devices;
    for (std::size_t i = 0; i < devices.size(); ++i) devices[i] = std::string("\\\\.\\") + PortNames[i];
    return devices;
}

std::array<std::string, kPortCount> PortMap::Devices() const {
    std::array<std::string, kPortCount> devices = Mapped();
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (!overrides_[i].empty()) devices[i] = overrides_[i];
        if (!devices[i].empty()) devices[i] = DeviceName(devices[i]);
    }
    return devices;
}

// Windows never runs its console on a COM port.
std::vector<std::string> PortMap::ConsoleDevices() const { return {}; }

std::vector<std::string> PortMap::OtherPorts() const {
    std::vector<std::pair<int, std::string>> numbered;
    if (machine_)
        for (std::string port : SerialCommPorts()) {
            for (char& c : port) c = char(std::toupper(static_cast<unsigned char>(c)));
            const int number = ComNumber(port);
            if (number > kPortCount) numbered.emplace_back(number, "COM" + std::to_string(number));
        }
    std::sort(numbered.begin(), numbered.end());
    numbered.erase(std::unique(numbered.begin(), numbered.end()), numbered.end());
    std::vector<std::string> names;
    for (auto& [number, name] : numbered) names.push_back(name);
    return names;
}

// Any COM number the system may have, listed in its map or not: a port
// the map leaves out can still be opened by name.
std::string SystemPortDevice(const std::string& name) {
    return ComNumber(name) > 0 ? DeviceName(PortNameOf(name)) : std::string();
}

PortStatus PortMap::DescribeNamed(const std::string& name) const {
    PortStatus status;
    status.device = DeviceNamed(name);
    PortHandle port = WinSerialPort::Open(status.device, &status);
    return status;
}

PortStatus PortMap::Describe(int portIndex) const {
    PortStatus status;
    status.device = Device(portIndex);
    PortHandle port = WinSerialPort::Open(status.device, &status);
    return status;
}

PortHandle PortMap::Open(const PortSettings& settings, PortStatus* status) const {
    return OpenDevice(DeviceOf(settings), settings, status);
}

PortHandle OpenDevice(const std::string& device, const PortSettings& settings, PortStatus* status) {
    PortHandle port = WinSerialPort::Open(DeviceName(device), status);
    if (!port) return nullptr;
    // A line the driver will not set up is never used at whatever speed it
    // was left at: the receiver would see garbage.
    if (!port->Apply(settings)) {
        const DWORD error = ::GetLastError();
        port.reset();
        if (status) *status = PortStatus{PortState::SettingsRefused, device, int(error)};
        return nullptr;
    }
    static_cast<WinSerialPort&>(*port).ConfigureDriver();
    port->Purge();
    return port;
}

void ClosePort(PortHandle& port) { port.reset(); }

std::string DescribePortState(const PortStatus& status) {
    const std::string driver = status.device.empty() ? std::string() : DriverName(status.device);
    const std::string known = driver.empty() ? std::string() : " (" + driver + ")";
    switch (status.state) {
        case PortState::Available: return "available" + known;
        case PortState::NoDevice: return "no device";
        case PortState::Missing: return "missing (Windows has no such port)";
        case PortState::Busy: return "in use by another program" + known;
        case PortState::PermissionDenied:
            return "access denied: another program has the port open, or this account may not use it" + known;
        case PortState::NotATerminal: return "not a serial port";
        case PortState::SettingsRefused:
            return "the driver refused the line settings (115200 baud, 8 data bits, no parity, 1 stop bit)" + known;
        case PortState::SystemConsole:
        case PortState::OwnTerminal:
        case PortState::OtherError: break;
    }
    return "cannot be opened: " + SystemMessage(DWORD(status.error)) + known;
}

}  // namespace tarven
