// tarven-link: the command-line companion of the updater window, on the same
// link engine and worker.
#include <cstdio>
#include <string>
#include <vector>

#include "Batch.h"
#include "CliOptions.h"
#include "Commands.h"
#include "LinkRun.h"
#include "ProcessPlatform.h"

using namespace tarven::cli;

namespace {

int Run(int argc, char** argv) {
    const std::vector<std::string> args = ProgramArguments(argc, argv);
    UseUtf8Output();
    if (args.empty() && ConsoleIsOwn()) {
        // Started from Explorer: say how to use the program, last, where the
        // window's end shows it.
        std::fputs(UsageText().c_str(), stdout);
        std::fputs(
            "\ntarven-link runs from a Command Prompt: open one in this folder and type\n"
            "tarven-link.exe followed by a command, for example: tarven-link.exe ports\n",
            stdout);
        return kExitUsage;
    }
    const ParseResult parsed = ParseCommandLine(args);
    if (parsed.options.verb == Verb::Help) {
        std::fputs(UsageText().c_str(), stdout);
        return kExitOk;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "tarven-link: %s\n\n%s", parsed.error.c_str(), UsageText().c_str());
        return kExitUsage;
    }
    InstallInterruptHandlers();
    Console console;
    console.errIsTerminal = StreamIsTerminal(stderr);
    console.stdinIsTerminal = StreamIsTerminal(stdin);

    const Options& options = parsed.options;
    const tarven::PortMap ports = TargetPorts(options);
    switch (options.verb) {
        case Verb::Ports: return RunPortsCommand(options, ports, console);
        case Verb::Version: return RunVersionCommand(options, ports, console);
        case Verb::ReadBack: return RunReadBackCommand(options, ports, console);
        case Verb::Upload:
            if (options.targets.size() > 1) return RunBatchUpload(options, ports, console, OwnProgramPath(argv[0]));
            return RunUploadCommand(options, ports, console);
        case Verb::Help:
        case Verb::None: break;
    }
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    const int status = Run(argc, argv);
    // The console goes with the program when nobody else uses it.
    if (ConsoleIsOwn()) WaitForKey();
    return status;
}
