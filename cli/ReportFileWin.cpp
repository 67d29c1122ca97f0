#include <windows.h>

#include <cstring>
#include <ctime>

#include "ImageFileWin.h"
#include "ReportFile.h"

namespace tarven::cli {
namespace {

HANDLE Handle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

std::string LastErrorText() { return std::strerror(ErrnoFromWindowsError(::GetLastError())); }

}  // namespace

ReportFile::~ReportFile() {
    if (IsOpen()) ::CloseHandle(Handle(handle_));
}

std::string ReportFile::Open(const std::string& path) {
    std::wstring wide;
    if (!WideFileName(path, wide)) return "the name is not UTF-8";
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end
    // of the file as it is then, the same guarantee O_APPEND gives, so the
    // children of a batch may share the report.
    const HANDLE file = ::CreateFileW(wide.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return LastErrorText();
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return {};
}

std::string ReportFile::Append(const std::string& line) {
    if (!IsOpen()) return "the report is not open";
    DWORD written = 0;
    if (!::WriteFile(Handle(handle_), line.data(), DWORD(line.size()), &written, nullptr)) return LastErrorText();
    if (written != line.size())
        return "only " + std::to_string(written) + " of " + std::to_string(line.size()) + " bytes written";
    return {};
}

std::string HostName() {
    wchar_t name[256] = {};
    DWORD size = DWORD(sizeof name / sizeof name[0]);
    if (!::GetComputerNameExW(ComputerNameDnsHostname, name, &size)) return {};
    return Utf8FileName(std::wstring_view(name, size));
}

std::string UtcTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    if (::gmtime_s(&utc, &now) != 0) return {};
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

}  // namespace tarven::cli
