// The devices this process was told to use instead of the mapping for its
// runs, and the runs' way to their port through it.
#include "PortAccess.h"

#include <mutex>

#include "LinkConstants.h"
#include "PortMap.h"

namespace tarven {
namespace {

std::mutex g_overrideMutex;
std::array<std::string, kPortCount> g_overrides;

}  // namespace

void OverridePortDevice(int portIndex, const std::string& device) {
    if (portIndex < 0 || portIndex >= kPortCount) return;
    std::lock_guard lock(g_overrideMutex);
    g_overrides[std::size_t(portIndex)] = device;
}

void ClearPortOverrides() {
    std::lock_guard lock(g_overrideMutex);
    for (auto& o : g_overrides) o.clear();
}

PortHandle OpenPort(PortSettings settings) {
    PortMap map = PortMap::Machine();
    {
        std::lock_guard lock(g_overrideMutex);
        for (int i = 0; i < kPortCount; ++i) map.Override(i, g_overrides[std::size_t(i)]);
    }
    return map.Open(settings);
}

}  // namespace tarven
