#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "LinkRun.h"
#include "ProcessPlatform.h"

namespace tarven::cli {
namespace {

void OnSignal(int) { RequestInterrupt(); }

}  // namespace

void InstallInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    // A closed pipe on stdout must not kill us while we hold the port.
    signal(SIGPIPE, SIG_IGN);
}

bool StreamIsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

std::string OwnProgramPath(const char* argv0) {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n > 0) return std::string(path, std::size_t(n));
    return argv0;
}

bool DeviceVanished(const std::string& device) {
    struct stat st {};
    if (::stat(device.c_str(), &st) == 0) return false;
    return errno == ENOENT || errno == ENODEV || errno == ENXIO;
}

}  // namespace tarven::cli
