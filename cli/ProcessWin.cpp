#include <windows.h>
#include <shellapi.h>
#include <conio.h>
#include <io.h>

#include <cerrno>
#include <cstdlib>

#include "ImageFileWin.h"
#include "LinkRun.h"
#include "ProcessPlatform.h"

namespace tarven::cli {
namespace {

BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT: RequestInterrupt(); return TRUE;
        default: return FALSE;
    }
}

HANDLE g_vtConsole = INVALID_HANDLE_VALUE;
DWORD g_vtConsoleMode = 0;

// The console is the command prompt's as well: it gets its mode back.
void RestoreConsoleMode() { ::SetConsoleMode(g_vtConsole, g_vtConsoleMode); }

UINT g_outputCodePage = 0;
void RestoreOutputCodePage() { ::SetConsoleOutputCP(g_outputCodePage); }

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

}  // namespace

void InstallInterruptHandlers() { ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

bool StreamIsTerminal(std::FILE* stream) { return ::_isatty(::_fileno(stream)) != 0; }

// Consoles before Windows 10 (and NUL, which _isatty counts as a terminal)
// refuse VT processing: the bar then redraws with carriage returns alone.
bool TerminalTakesEscapes(std::FILE* stream) {
    const HANDLE console = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    DWORD mode = 0;
    if (console == INVALID_HANDLE_VALUE || !::GetConsoleMode(console, &mode)) return false;
    if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
    if (!::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) return false;
    if (g_vtConsole == INVALID_HANDLE_VALUE) {
        g_vtConsole = console;
        g_vtConsoleMode = mode;
        std::atexit(RestoreConsoleMode);
    }
    return true;
}

// Alone on a console that has a window (even Windows Terminal's stand-in),
// reading keys from it and writing to it. A script's hidden console (no
// window) or redirected streams never wait.
bool ConsoleIsOwn() {
    DWORD processes[2];
    return ::GetConsoleProcessList(processes, 2) == 1 && ::GetConsoleWindow() != nullptr &&
           IsConsole(::GetStdHandle(STD_INPUT_HANDLE)) && IsConsole(::GetStdHandle(STD_OUTPUT_HANDLE));
}

void WaitForKey() {
    std::fputs("\nPress any key to close this window.", stdout);
    std::fflush(stdout);
    ::FlushConsoleInputBuffer(::GetStdHandle(STD_INPUT_HANDLE));
    ::_getch();
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) return {argv + 1, argv + argc};
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) args.push_back(tarven::Utf8FileName(wide[i]));
    ::LocalFree(wide);
    return args;
}

void UseUtf8Output() {
    const UINT current = ::GetConsoleOutputCP();
    if (current == 0 || current == CP_UTF8 || !::SetConsoleOutputCP(CP_UTF8)) return;
    g_outputCodePage = current;
    std::atexit(RestoreOutputCodePage);
}

std::string OwnProgramPath(const char* argv0) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (n == 0) return argv0;
        if (n < path.size()) return tarven::Utf8FileName(std::wstring_view(path.data(), n));
        if (path.size() >= 32768) return argv0;
        path.resize(path.size() * 2);
    }
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
