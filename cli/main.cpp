// tarven-link: the command-line companion of the updater window, on the same
// link engine and worker.
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "Batch.h"
#include "CliOptions.h"
#include "Commands.h"
#include "LinkRun.h"

using namespace tarven::cli;

namespace {

void OnSignal(int) { RequestInterrupt(); }

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    // A closed pipe on stdout must not kill us while we hold the port.
    signal(SIGPIPE, SIG_IGN);
}

std::string OwnProgram(const char* argv0) {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n > 0) return std::string(path, std::size_t(n));
    return argv0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const ParseResult parsed = ParseCommandLine(args);
    if (parsed.options.verb == Verb::Help) {
        std::fputs(UsageText().c_str(), stdout);
        return kExitOk;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "tarven-link: %s\n\n%s", parsed.error.c_str(), UsageText().c_str());
        return kExitUsage;
    }
    InstallSignalHandlers();
    Console console;
    console.errIsTerminal = ::isatty(STDERR_FILENO) == 1;
    console.stdinIsTerminal = ::isatty(STDIN_FILENO) == 1;

    const Options& options = parsed.options;
    switch (options.verb) {
        case Verb::Ports: return RunPortsCommand(options, console);
        case Verb::Version: return RunVersionCommand(options, console);
        case Verb::ReadBack: return RunReadBackCommand(options, console);
        case Verb::Upload:
            if (options.targets.size() > 1) return RunBatchUpload(options, console, OwnProgram(argv[0]));
            return RunUploadCommand(options, console);
        case Verb::Help:
        case Verb::None: break;
    }
    return kExitUsage;
}
