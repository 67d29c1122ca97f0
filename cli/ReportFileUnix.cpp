#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "ReportFile.h"

namespace tarven::cli {

ReportFile::~ReportFile() {
    if (IsOpen()) ::close(int(handle_));
}

std::string ReportFile::Open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return std::strerror(errno);
    handle_ = fd;
    return {};
}

std::string ReportFile::Append(const std::string& line) {
    if (!IsOpen()) return "the report is not open";
    // One write with O_APPEND: the kernel moves to the end and writes in one
    // step, so a line from another process cannot land inside this one.
    // Ctrl-C has a handler here, so a signal may interrupt the write before
    // it starts; nothing was written then, and the line is tried again.
    ssize_t n = 0;
    do {
        n = ::write(int(handle_), line.data(), line.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) return std::strerror(errno);
    if (std::size_t(n) != line.size())
        return "only " + std::to_string(n) + " of " + std::to_string(line.size()) + " bytes written";
    return {};
}

std::string HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string UtcTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    if (::gmtime_r(&now, &utc) == nullptr) return {};
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

}  // namespace tarven::cli
