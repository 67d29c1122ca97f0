#include "PortSettings.h"

#include <cstring>

#include "LinkConstants.h"

namespace tarven {

PortSettings DefaultPortSettings() {
    PortSettings s;
    std::memset(&s, 0, sizeof s);
    s.BaudRate = kBaudNormal;
    s.fBinary = 1;
    s.ByteSize = 8;
    s.Parity = 0;
    s.StopBits = 0;
    return s;
}

int EffectivePortIndex(const PortSettings& settings) {
    return settings.wReserved < kPortCount ? settings.wReserved : 0;
}

int PortIndexFromName(const std::string& name) {
    for (int i = 0; i < kPortCount; ++i)
        if (name == PortNames[i]) return i;
    return -1;
}

}  // namespace tarven
