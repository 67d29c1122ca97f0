#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "Commands.h"
#include "LinkRun.h"
#include "ProcessPlatform.h"

namespace tarven::cli {
namespace {

// After SIGINT, SIGTERM or SIGHUP a run ends in an orderly way within a
// fraction of a second. Should something block that for good (a write to a
// pipe nobody reads, a hung file system), the process ends anyway once this
// grace is over, and the system releases the port as at any exit.
constexpr long kInterruptGraceMs = 500;

timer_t g_grace{};
bool g_graceReady = false;
volatile sig_atomic_t g_graceArmed = 0;

void OnGraceOver(int) { _exit(kExitInterrupted); }

void OnSignal(int) {
    RequestInterrupt();
    if (!g_graceReady || g_graceArmed) return;
    g_graceArmed = 1;
    itimerspec grace{};
    grace.it_value.tv_sec = kInterruptGraceMs / 1000;
    grace.it_value.tv_nsec = kInterruptGraceMs % 1000 * 1000000L;
    ::timer_settime(g_grace, 0, &grace, nullptr);
}

void InstallGraceTimer() {
    struct sigaction action {};
    action.sa_handler = OnGraceOver;
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, nullptr);
    sigevent event{};
    event.sigev_notify = SIGEV_SIGNAL;
    event.sigev_signo = SIGALRM;
    g_graceReady = ::timer_create(CLOCK_MONOTONIC, &event, &g_grace) == 0;
}

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
    // Nor a file size limit: the write fails and the run says why.
    signal(SIGXFSZ, SIG_IGN);
    InstallGraceTimer();
}

bool StreamIsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

bool TerminalTakesEscapes(std::FILE*) { return true; }

// A terminal outlives the programs it runs.
bool ConsoleIsOwn() { return false; }
void WaitForKey() {}

std::vector<std::string> ProgramArguments(int argc, char** argv) { return {argv + 1, argv + argc}; }

void UseUtf8Output() {}

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
