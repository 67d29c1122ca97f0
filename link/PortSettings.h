// Line settings of a run, kept in the layout of the serial driver record the
// design was written against, with the chosen port index in its reserved word.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tarven {

struct PortSettings {
    std::uint32_t DCBlength;
    std::uint32_t BaudRate;
    std::uint32_t fBinary : 1;
    std::uint32_t fParity : 1;
    std::uint32_t fOutxCtsFlow : 1;
    std::uint32_t fOutxDsrFlow : 1;
    std::uint32_t fDtrControl : 2;
    std::uint32_t fDsrSensitivity : 1;
    std::uint32_t fTXContinueOnXoff : 1;
    std::uint32_t fOutX : 1;
    std::uint32_t fInX : 1;
    std::uint32_t fErrorChar : 1;
    std::uint32_t fNull : 1;
    std::uint32_t fRtsControl : 2;
    std::uint32_t fAbortOnError : 1;
    std::uint32_t fDummy2 : 17;
    std::uint16_t wReserved;  // port index: 0..5 select COM1..COM6
    std::uint16_t XonLim;
    std::uint16_t XoffLim;
    std::uint8_t ByteSize;
    std::uint8_t Parity;
    std::uint8_t StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    std::uint16_t wReserved1;
};
static_assert(sizeof(PortSettings) == 28, "PortSettings must keep the 28-byte driver record layout");

inline constexpr std::array<const char*, 6> PortNames = {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6"};

// Zero-filled, then 115200 baud, 8N1, binary mode: what the main window hands to every run.
PortSettings DefaultPortSettings();

// Index 0..5 selects its port; anything else falls back to COM1.
int EffectivePortIndex(const PortSettings& settings);

// Port name ("COM1".."COM6") to index, exact and case-sensitive; -1 when it names no port.
int PortIndexFromName(const std::string& name);

}  // namespace tarven
