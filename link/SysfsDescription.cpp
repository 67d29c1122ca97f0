#include "SysfsDescription.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "PortAccess.h"

namespace tarven {
namespace {

namespace fs = std::filesystem;

std::string FirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t')) line.pop_back();
    return line;
}

// A ttyUSB node's device is a USB interface below its adapter, a ttyACM
// node's is the interface too: the adapter is the nearest folder above with
// a vendor id.
fs::path UsbDeviceAbove(const fs::path& start) {
    std::error_code error;
    fs::path folder = fs::canonical(start, error);
    if (error) return {};
    for (int level = 0; level < 4 && !folder.empty(); ++level, folder = folder.parent_path())
        if (fs::exists(folder / "idVendor", error)) return folder;
    return {};
}

}  // namespace

std::string SysfsAdapterDescription(const std::string& device, const std::string& sysfsRoot) {
    std::error_code error;
    fs::path node = fs::canonical(device, error);
    if (error) node = device;
    const fs::path usb = UsbDeviceAbove(fs::path(sysfsRoot) / "class" / "tty" / node.filename() / "device");
    if (usb.empty()) return {};
    std::string text = FirstLine(usb / "manufacturer");
    const std::string product = FirstLine(usb / "product");
    if (!product.empty()) text += (text.empty() ? "" : " ") + product;
    const std::string ids = FirstLine(usb / "idVendor") + ":" + FirstLine(usb / "idProduct");
    text += (text.empty() ? "USB " : ", USB ") + ids;
    if (const std::string serial = FirstLine(usb / "serial"); !serial.empty()) text += ", serial " + serial;
    return text;
}

std::string AdapterDescription(const std::string& device) { return SysfsAdapterDescription(device, "/sys"); }

}  // namespace tarven
