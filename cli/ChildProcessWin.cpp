#include <windows.h>

#include <algorithm>
#include <cctype>

#include "ChildProcess.h"
#include "Commands.h"
#include "ImageFileWin.h"

namespace tarven::cli {
namespace {

// Anonymous pipes cannot be waited on, so the parent looks at them this often.
constexpr DWORD kOutputLookMs = 20;

// The C library's rules for splitting a command line: backslashes count only
// before a quote, where they are doubled, as are those before the closing one.
std::string Quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
    std::string text = "\"";
    std::size_t backslashes = 0;
    for (const char ch : arg) {
        if (ch == '\\') {
            ++backslashes;
            continue;
        }
        text.append(ch == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        text += ch;
    }
    text.append(backslashes * 2, '\\');
    return text + "\"";
}

std::string SystemText(DWORD error) {
    char text[256] = {};
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                               sizeof text, nullptr);
    while (n > 0 && std::isspace(static_cast<unsigned char>(text[n - 1]))) --n;
    return n > 0 ? std::string(text, n) : "error " + std::to_string(error);
}

std::string NormalDeviceName(const std::string& name) {
    std::string text = name.rfind("\\\\.\\", 0) == 0 ? name.substr(4) : name;
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return text;
}

}  // namespace

struct ChildProcess::Handles {
    HANDLE process = nullptr;
    DWORD id = 0;
    HANDLE output = nullptr;  // the child's stdout and stderr, one pipe
};

ChildProcess::ChildProcess() : handles_(std::make_unique<Handles>()) {}
ChildProcess::ChildProcess(ChildProcess&&) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&&) noexcept = default;

ChildProcess::~ChildProcess() {
    if (!handles_) return;
    if (handles_->output) ::CloseHandle(handles_->output);
    if (handles_->process) ::CloseHandle(handles_->process);
}

std::string ChildProcess::Start(const std::string& program, const std::vector<std::string>& args) {
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inherited, 0)) return SystemText(::GetLastError());
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    // Nobody can answer a child's prompt: its input is empty.
    HANDLE empty =
        ::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0, nullptr);

    std::string line = Quoted(program);
    for (const auto& a : args) line.append(" ").append(Quoted(a));  // not " " + ...: GCC 12's false -Wrestrict
    // Wide, as the child's own command line is read: file names in the ANSI
    // code page would lose what it cannot hold.
    std::wstring wideProgram, wideLine;
    if (!tarven::WideFileName(program, wideProgram) || !tarven::WideText(line, wideLine)) {
        ::CloseHandle(readEnd);
        ::CloseHandle(writeEnd);
        if (empty != INVALID_HANDLE_VALUE) ::CloseHandle(empty);
        return "the command line is not UTF-8";
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = empty;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION info{};
    // Its own group, so that Interrupt() can reach it alone with a Ctrl-Break.
    const BOOL started = ::CreateProcessW(wideProgram.c_str(), wideLine.data(), nullptr, nullptr, TRUE,
                                          CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &info);
    const DWORD error = ::GetLastError();
    // The parent's copy of the write end must go, or the pipe would never end.
    ::CloseHandle(writeEnd);
    if (empty != INVALID_HANDLE_VALUE) ::CloseHandle(empty);
    if (!started) {
        ::CloseHandle(readEnd);
        return SystemText(error);
    }
    ::CloseHandle(info.hThread);
    handles_->process = info.hProcess;
    handles_->id = info.dwProcessId;
    handles_->output = readEnd;
    return {};
}

bool ChildProcess::OutputOpen() const { return handles_->output != nullptr; }

long ChildProcess::Read(char* buffer, std::size_t size) {
    if (!handles_->output) return -1;
    DWORD waiting = 0, n = 0;
    const BOOL open = ::PeekNamedPipe(handles_->output, nullptr, 0, nullptr, &waiting, nullptr);
    if (open && waiting == 0) return -1;
    if (open && ::ReadFile(handles_->output, buffer, std::min<DWORD>(waiting, DWORD(size)), &n, nullptr) && n > 0)
        return long(n);
    ::CloseHandle(handles_->output);
    handles_->output = nullptr;
    return 0;
}

int ChildProcess::Wait() {
    if (!handles_->process) return -1;
    ::WaitForSingleObject(handles_->process, INFINITE);
    DWORD code = 0;
    const bool known = ::GetExitCodeProcess(handles_->process, &code) != 0;
    ::CloseHandle(handles_->process);
    handles_->process = nullptr;
    return known ? int(code) : -1;
}

// Without a console to share, a Ctrl-Break cannot be sent; the child is then
// ended outright, and the system releases its port as at any exit.
void ChildProcess::Interrupt() {
    if (!handles_->process) return;
    if (!::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, handles_->id))
        ::TerminateProcess(handles_->process, UINT(kExitInterrupted));
}

bool WaitForOutput(const std::vector<ChildProcess*>& children, int timeoutMs) {
    for (int waited = 0;; waited += int(kOutputLookMs)) {
        for (const auto* c : children) {
            if (!c->handles_->output) continue;
            DWORD waiting = 0;
            if (!::PeekNamedPipe(c->handles_->output, nullptr, 0, nullptr, &waiting, nullptr) || waiting > 0)
                return true;
        }
        if (waited >= timeoutMs) return false;
        ::Sleep(kOutputLookMs);
    }
}

bool SameDevice(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    return NormalDeviceName(a) == NormalDeviceName(b);
}

}  // namespace tarven::cli
