#include <windows.h>
#include <io.h>

#include <cerrno>

#include "LinkRun.h"
#include "ProcessPlatform.h"

namespace tarven::cli {
namespace {

BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            RequestInterrupt();
            return TRUE;
        default: return FALSE;
    }
}

}  // namespace

void InstallInterruptHandlers() { ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

bool StreamIsTerminal(std::FILE* stream) { return ::_isatty(::_fileno(stream)) != 0; }

std::string OwnProgramPath(const char* argv0) {
    char path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof path);
    if (n > 0 && n < sizeof path) return std::string(path, n);
    return argv0;
}

// A pulled USB adapter takes its COM name with it; the engine's own view of
// the device covers every other way of going.
bool DeviceVanished(const std::string& device) {
    const std::string name = device.rfind("\\\\.\\", 0) == 0 ? device.substr(4) : device;
    if (name.rfind("COM", 0) != 0) return false;
    char target[512];
    return ::QueryDosDeviceA(name.c_str(), target, sizeof target) == 0 && ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace tarven::cli
