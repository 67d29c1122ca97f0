// Line settings of a run and the port they are for. Each run works on its own
// copy: the speed may drop during it, and the version query may move to
// another port. The driver's own record is built from these only where the
// platform needs it (the Windows port).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "LinkConstants.h"

namespace tarven {

struct PortSettings {
    int portIndex = 0;  // 0..5 select COM1..COM6
    // A port beyond COM1..COM6 by its own name ("COM7"), which then decides
    // instead of portIndex; empty for COM1..COM6.
    std::string portName{};
    std::uint32_t baudRate = kBaudNormal;  // a fresh run starts at the normal speed
    std::uint8_t byteSize = 8;
    std::uint8_t parity = 0;    // none
    std::uint8_t stopBits = 0;  // the driver's code: 0 one, 1 one and a half, 2 two
};

inline constexpr std::array<const char*, 6> PortNames = {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6"};

// 115200 baud, 8N1 on COM1: what the main window hands to every run.
PortSettings DefaultPortSettings();
// The defaults on the port of `portIndex`.
PortSettings PortSettingsFor(int portIndex, const std::string& portName = {});

// Index 0..5 selects its port; anything else falls back to COM1.
int EffectivePortIndex(const PortSettings& settings);

// Port name ("COM1".."COM6") to index, exact and case-sensitive; -1 when it names no port.
int PortIndexFromName(const std::string& name);

}  // namespace tarven
