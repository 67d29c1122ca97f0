// The adapter behind a COM port as Device Manager shows it: the Ports class's
// devices, matched by the port name their driver keeps in its parameters.
#include <windows.h>
// after windows.h
#include <setupapi.h>

#include <cctype>
#include <cwctype>
#include <iterator>
#include <string>

#include "PortAccess.h"

namespace tarven {
namespace {

// The Ports (COM & LPT) device class.
constexpr GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
// Above this the FTDI driver holds short replies back long enough to slow
// every block's acknowledgement.
constexpr DWORD kLatencyWarnMs = 2;

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(std::size_t(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) c = wchar_t(std::towupper(c));
    return text;
}

std::wstring Property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t buffer[1024] = {};
    if (!::SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, reinterpret_cast<BYTE*>(buffer),
                                             sizeof buffer - sizeof(wchar_t), nullptr))
        return {};
    return buffer;  // a list's first entry
}

// The value of "VID_0403" or "PID_6001" in a hardware or instance id.
std::wstring IdPart(const std::wstring& id, const wchar_t* key) {
    const std::size_t at = id.find(key);
    return at == std::wstring::npos ? std::wstring() : id.substr(at + 4, 4);
}

// The serial an instance id carries: USB\VID_0403&PID_6001\A10K3ZQ1, or
// FTDIBUS\VID_0403+PID_6001+A10K3ZQ1A\0000. A segment with '&' is one
// Windows made up for an adapter without a serial.
std::wstring SerialOf(const std::wstring& instance) {
    const std::size_t first = instance.find(L'\\');
    const std::size_t last = instance.rfind(L'\\');
    if (first == std::wstring::npos || first == last) return {};
    if (instance.rfind(L"FTDIBUS\\", 0) == 0) {
        const std::wstring ids = instance.substr(first + 1, last - first - 1);
        const std::size_t plus = ids.rfind(L'+');
        return plus == std::wstring::npos ? std::wstring() : ids.substr(plus + 1);
    }
    const std::wstring tail = instance.substr(last + 1);
    return tail.find(L'&') == std::wstring::npos ? tail : std::wstring();
}

// The port's name and, for FTDI drivers, the latency timer, from the
// device's "Device Parameters" key; read only.
bool PortParameters(HDEVINFO set, SP_DEVINFO_DATA& device, std::wstring& portName, DWORD& latency) {
    HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) return false;
    wchar_t name[64] = {};
    DWORD size = sizeof name - sizeof(wchar_t), type = 0;
    const bool named =
        ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS &&
        type == REG_SZ;
    DWORD value = 0;
    size = sizeof value;
    if (::RegQueryValueExW(key, L"LatencyTimer", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD)
        latency = value;
    ::RegCloseKey(key);
    portName = name;
    return named;
}

std::string Describe(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD latency) {
    std::string text = Narrow(Property(set, device, SPDRP_FRIENDLYNAME));
    wchar_t instance[512] = {};
    ::SetupDiGetDeviceInstanceIdW(set, &device, instance, DWORD(std::size(instance)), nullptr);
    const std::wstring hardware = Upper(Property(set, device, SPDRP_HARDWAREID));
    const std::wstring vid = IdPart(hardware, L"VID_"), pid = IdPart(hardware, L"PID_");
    if (!vid.empty() && !pid.empty()) text += (text.empty() ? "USB " : ", USB ") + Narrow(vid + L":" + pid);
    if (const std::wstring serial = SerialOf(instance); !serial.empty() && !vid.empty())
        text += ", serial " + Narrow(serial);
    if (latency != MAXDWORD) {
        text += ", latency timer " + std::to_string(latency) + " ms";
        if (latency > kLatencyWarnMs) text += " (slows every block: set it to 1 ms)";
    }
    return text;
}

}  // namespace

std::string AdapterDescription(const std::string& device) {
    const std::size_t slash = device.rfind('\\');
    std::wstring wanted;
    for (char c : device.substr(slash == std::string::npos ? 0 : slash + 1)) wanted += wchar_t(std::toupper(c));
    HDEVINFO set = ::SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return {};
    std::string text;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &info); ++i) {
        std::wstring portName;
        DWORD latency = MAXDWORD;
        if (!PortParameters(set, info, portName, latency) || Upper(portName) != wanted) continue;
        text = Describe(set, info, latency);
        break;
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return text;
}

}  // namespace tarven
