// What the kernel's device tree says about the USB adapter behind a serial
// device, for the port list's tooltip and `tarven-link ports`.
#pragma once

#include <string>

namespace tarven {

// "FTDI FT232R USB UART, USB 0403:6001, serial A10K3ZQ1" for /dev/ttyUSB0,
// read under `sysfsRoot` (normally /sys) from the USB device above
// class/tty/<name>/device. Parts the tree lacks are left out; empty when the
// device is no USB adapter or has no entry at all.
std::string SysfsAdapterDescription(const std::string& device, const std::string& sysfsRoot);

}  // namespace tarven
