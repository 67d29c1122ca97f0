// The file --report appends to, and what a report line says about where and
// when it was written. ReportFileUnix.cpp or ReportFileWin.cpp, chosen in CMake.
#pragma once

#include <cstdint>
#include <string>

namespace tarven::cli {

// Opened for appending only, so every write lands at the end of the file as
// it is then: the children of a batch each hold the report open and their
// lines never overwrite or split one another, as long as each line goes out
// in one write.
class ReportFile {
public:
    ReportFile() = default;
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;
    ~ReportFile();

    // Opens `path`, creating it when it is not there. Empty when it is open,
    // else the system's reason.
    std::string Open(const std::string& path);
    bool IsOpen() const { return handle_ != kClosed; }
    // Appends `line`, its newline included, in one write. Empty when all of
    // it was written, else why not.
    std::string Append(const std::string& line);

private:
    static constexpr std::intptr_t kClosed = -1;
    std::intptr_t handle_ = kClosed;  // a descriptor, or a HANDLE
};

// The machine's name as its network knows it; empty when unknown.
std::string HostName();

// The time now in UTC, ISO 8601 to the second: "2026-12-09T07:30:13Z".
std::string UtcTimeNow();

}  // namespace tarven::cli
