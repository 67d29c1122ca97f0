#include "PortSettings.h"

#include "LinkConstants.h"

namespace tarven {

PortSettings DefaultPortSettings() { return PortSettings{}; }

PortSettings PortSettingsFor(int portIndex, const std::string& portName) {
    PortSettings s;
    s.portIndex = portIndex;
    s.portName = portName;
    return s;
}

int EffectivePortIndex(const PortSettings& settings) {
    return settings.portIndex >= 0 && settings.portIndex < kPortCount ? settings.portIndex : 0;
}

int PortIndexFromName(const std::string& name) {
    for (int i = 0; i < kPortCount; ++i)
        if (name == PortNames[i]) return i;
    return -1;
}

}  // namespace tarven
