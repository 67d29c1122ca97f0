// What the port mapping does alike on both platforms; the mapping itself and
// the opening are the platform files' (PortAccessUnix.cpp, PortAccessWin.cpp).
#include "PortMap.h"

namespace tarven {

PortMap PortMap::Machine() {
    PortMap map;
    map.machine_ = true;
    return map;
}

PortMap::PortMap(std::array<std::string, kPortCount> devices) : fixed_(std::move(devices)) {}

void PortMap::Override(int portIndex, const std::string& device) {
    if (portIndex >= 0 && portIndex < kPortCount) overrides_[std::size_t(portIndex)] = device;
}

std::string PortMap::Device(int portIndex) const {
    if (portIndex < 0 || portIndex >= kPortCount) return {};
    return Devices()[std::size_t(portIndex)];
}

std::string PortMap::DeviceNamed(const std::string& name) const {
    const int index = PortIndexFromName(name);
    if (index >= 0) return Device(index);
    return machine_ ? SystemPortDevice(name) : std::string();
}

std::string PortMap::DeviceOf(const PortSettings& settings) const {
    return settings.portName.empty() ? Device(EffectivePortIndex(settings)) : DeviceNamed(settings.portName);
}

bool PortMap::CanOpen(int portIndex) const { return Describe(portIndex).state == PortState::Available; }

}  // namespace tarven
