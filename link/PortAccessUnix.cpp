#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "LinkConstants.h"
#include "PortAccess.h"
#include "PortMap.h"
#include "SerialPortUnix.h"

namespace tarven {
namespace {

// Numbered devices of one family in /dev (ttyUSB0, ttyUSB1, ...), by number.
std::vector<std::pair<int, std::string>> DevicesNamed(const char* prefix) {
    std::vector<std::pair<int, std::string>> found;
    DIR* dir = ::opendir("/dev");
    if (!dir) return found;
    const std::size_t len = std::strlen(prefix);
    while (dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strncmp(name, prefix, len) != 0 || name[len] == '\0') continue;
        char* end = nullptr;
        const long number = std::strtol(name + len, &end, 10);
        if (*end != '\0' || number < 0) continue;
        found.emplace_back(int(number), std::string("/dev/") + name);
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end());
    return found;
}

// Every machine has dozens of ttyS nodes; only those with a UART behind them count.
bool HasRealUart(const std::string& device) {
    const std::string name = device.substr(device.rfind('/') + 1);
    std::ifstream type("/sys/class/tty/" + name + "/type");
    int uart = 0;
    return type >> uart && uart != 0;
}

// Every serial device discovery would offer, the system console included.
std::vector<std::string> SerialDevicesPresent() {
    std::vector<std::string> present;
    for (const char* family : {"ttyUSB", "ttyACM"})
        for (auto& [number, path] : DevicesNamed(family)) present.push_back(path);
    for (auto& [number, path] : DevicesNamed("ttyS"))
        if (HasRealUart(path)) present.push_back(path);
    return present;
}

std::array<std::string, kPortCount> DiscoveredDevices(const std::string& consoleList) {
    std::vector<std::string> present = SerialDevicesPresent();
    std::erase_if(present, [&](const std::string& path) { return IsSystemConsole(path, consoleList); });
    std::array<std::string, kPortCount> devices;
    for (std::size_t i = 0; i < devices.size() && i < present.size(); ++i) devices[i] = present[i];
    return devices;
}

PortHandle OpenConfigured(const std::string& device, const PortSettings& settings, PortStatus* status,
                          const std::string& consoleList) {
    PortHandle port = UnixSerialPort::Open(device, status, consoleList);
    if (!port) return nullptr;
    // A line the driver will not set up is never used at whatever speed it
    // was left at: the receiver would see garbage.
    if (!port->Apply(settings)) {
        const int error = errno;
        port.reset();
        if (status) *status = PortStatus{PortState::SettingsRefused, device, error};
        return nullptr;
    }
    port->Purge();
    return port;
}

// The TARVEN_COM<n> variables, and whether any of them is set.
bool MappingVariables(std::array<std::string, kPortCount>& devices) {
    bool anyVariable = false;
    for (int i = 0; i < kPortCount; ++i) {
        const std::string variable = "TARVEN_COM" + std::to_string(i + 1);
        if (const char* value = std::getenv(variable.c_str())) {
            anyVariable = true;
            devices[i] = value;
        }
    }
    return anyVariable;
}

}  // namespace

std::array<std::string, kPortCount> PortMap::Mapped() const {
    if (!machine_) return fixed_;
    std::array<std::string, kPortCount> devices;
    if (!MappingVariables(devices)) devices = DiscoveredDevices(consoleList_);
    return devices;
}

std::array<std::string, kPortCount> PortMap::Devices() const {
    std::array<std::string, kPortCount> devices = Mapped();
    for (std::size_t i = 0; i < devices.size(); ++i)
        if (!overrides_[i].empty()) devices[i] = overrides_[i];
    return devices;
}

std::vector<std::string> PortMap::ConsoleDevices() const {
    // When the variables decide, nothing was left out: a console named there
    // shows as such in its own entry.
    std::array<std::string, kPortCount> named;
    if (!machine_ || MappingVariables(named)) return {};
    std::vector<std::string> consoles = SerialDevicesPresent();
    std::erase_if(consoles, [this](const std::string& path) { return !IsSystemConsole(path, consoleList_); });
    return consoles;
}

std::vector<std::string> PortMap::OtherPorts() const { return {}; }

std::string SystemPortDevice(const std::string&) { return {}; }

PortStatus PortMap::DescribeNamed(const std::string& name) const {
    PortStatus status;
    status.device = DeviceNamed(name);
    PortHandle port = UnixSerialPort::Open(status.device, &status, consoleList_);
    return status;
}

PortStatus PortMap::Describe(int portIndex) const {
    PortStatus status;
    status.device = Device(portIndex);
    PortHandle port = UnixSerialPort::Open(status.device, &status, consoleList_);
    return status;
}

PortHandle PortMap::Open(const PortSettings& settings, PortStatus* status) const {
    return OpenConfigured(DeviceOf(settings), settings, status, consoleList_);
}

PortHandle OpenDevice(const std::string& device, const PortSettings& settings, PortStatus* status) {
    return OpenConfigured(device, settings, status, {});
}

void ClosePort(PortHandle& port) {
    // Closing a terminal waits for its output to drain: a frame abandoned by a
    // cancel would hold the close for as long as it takes on the wire.
    if (port) port->DiscardOutput();
    port.reset();
}

std::string DescribePortState(const PortStatus& status) {
    switch (status.state) {
        case PortState::Available: return "available";
        case PortState::NoDevice: return "no device mapped";
        case PortState::Missing: return "missing (no such device)";
        case PortState::Busy: return "held by another program";
        case PortState::PermissionDenied:
            return "permission denied (join the dialout group: sudo usermod -aG dialout $USER, then log in again)";
        case PortState::NotATerminal: return "not a serial device";
        case PortState::SystemConsole: return "the system console, never used as a COM port";
        case PortState::OwnTerminal: return "the terminal this program runs in, never used as a COM port";
        case PortState::SettingsRefused:
            return std::string("the driver refused the line settings (115200 baud, 8N1): ") +
                   std::strerror(status.error);
        case PortState::OtherError: break;
    }
    return std::string("cannot be opened: ") + std::strerror(status.error);
}

}  // namespace tarven
