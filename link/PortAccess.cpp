// What both platforms' port access share: the devices this process was told
// to use instead of the mapping (tarven-link --device), and the operations
// that only combine the platform's own.
#include "PortAccess.h"

#include <mutex>

#include "LinkConstants.h"

namespace tarven {
namespace {

std::mutex g_overrideMutex;
std::array<std::string, kPortCount> g_overrides;

}  // namespace

std::array<std::string, kPortCount> PortOverrides() {
    std::lock_guard lock(g_overrideMutex);
    return g_overrides;
}

void OverridePortDevice(int portIndex, const std::string& device) {
    if (portIndex < 0 || portIndex >= kPortCount) return;
    std::lock_guard lock(g_overrideMutex);
    g_overrides[portIndex] = device;
}

void ClearPortOverrides() {
    std::lock_guard lock(g_overrideMutex);
    for (auto& o : g_overrides) o.clear();
}

std::string PortDevice(int portIndex) {
    if (portIndex < 0 || portIndex >= kPortCount) return {};
    return PortDevices()[portIndex];
}

int ProbePort(int portIndex) { return DescribePort(portIndex).state == PortState::Available ? 1 : 0; }

PortHandle OpenPort(PortSettings settings) {
    return OpenDevice(PortDevice(EffectivePortIndex(settings)), settings, nullptr);
}

}  // namespace tarven
