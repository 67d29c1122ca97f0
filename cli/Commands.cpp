#include "Commands.h"

#include <chrono>
#include <cstring>

#include "ImageFile.h"
#include "ImageRules.h"
#include "KindTable.h"
#include "LinkRun.h"
#include "OutcomeTexts.h"
#include "PortAccess.h"
#include "PortMap.h"
#include "ReadBackOutput.h"
#include "Verify.h"
#include "VersionBlock.h"

namespace tarven::cli {
namespace {

void Say(std::FILE* stream, const std::string& text) {
    std::fprintf(stream, "%s\n", text.c_str());
    std::fflush(stream);
}

std::string Seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", s);
    return text;
}

ProgressStyle StyleFor(const Options& options, const Console& console) {
    if (options.reportProgress) return ProgressStyle::Report;
    return console.errIsTerminal ? ProgressStyle::Bar : ProgressStyle::Lines;
}

// The failure text of a run that did not succeed, and its exit status.
struct Failure {
    int status = kExitRunFailed;
    std::string text;
};

Failure DescribeUnfinishedRun(const RunOutcome& outcome, const RunSetup& setup) {
    switch (outcome.end) {
        case RunEnd::TimedOut:
            if (setup.timeoutRestartsOnProgress)
                return {kExitRunFailed, "no progress for " + Seconds(setup.timeoutSeconds) +
                                            ", gave up (is the receiver on and waiting for this transfer?)"};
            return {kExitRunFailed, "no answer within " + Seconds(setup.timeoutSeconds)};
        case RunEnd::Vanished: return {kExitRunFailed, "the device vanished during the run (adapter unplugged?)"};
        case RunEnd::Interrupted: return {kExitInterrupted, "interrupted"};
        case RunEnd::NotStarted: return {kExitRunFailed, "the link worker could not be started"};
        case RunEnd::Finished:
        case RunEnd::VersionReady: break;
    }
    return {kExitRunFailed, "the run ended with result " + std::to_string(outcome.result)};
}

// Tells a batch parent how this child ended; alone, the text already went out.
void ReportOutcome(const Options& options, Console& console, const std::string& outcome) {
    if (options.reportProgress) Say(console.err, OutcomeReportLine(outcome));
}

int Fail(const Options& options, Console& console, int status, const std::string& label, const std::string& text) {
    Say(console.err, label + ": " + text);
    ReportOutcome(options, console, text);
    return status;
}

// The command's receiver: the first target's port, opened the way the
// window's probe does but kept open for the run, so nothing can take it in
// between.
struct HeldPort {
    int index = 0;
    std::string label;
    PortHandle port;
};

// kExitOk with `held` filled, or the exit status of a port that cannot be
// opened, told.
int OpenTarget(const Options& options, const PortMap& ports, Console& console, HeldPort& held) {
    const Target& target = options.targets.front();
    held.index = target.portIndex;
    // A port beyond COM6 carries its device itself and leaves COM1's mapping alone.
    const bool named = !target.name.empty();
    held.label = PortLabel(target, named ? target.device : ports.Device(held.index));
    PortStatus status;
    held.port = named ? OpenDevice(target.device, PortSettingsFor(held.index), &status)
                      : ports.Open(PortSettingsFor(held.index), &status);
    if (held.port) return kExitOk;
    std::string failure = DescribePortState(status);
    if (status.state == PortState::NoDevice)
        failure += " (set TARVEN_" + std::string(PortNames[std::size_t(held.index)]) + " or use --device)";
    return Fail(options, console, kExitPortUnavailable, held.label, failure);
}

std::optional<AccessLevel> LevelOrComplain(const Options& options, Console& console) {
    if (!options.password) return AccessLevel::Standard;
    const auto level = TypedPasswordAccessLevel(*options.password);
    if (!level) Say(console.err, kPasswordIncorrectText);
    return level;
}

// Between the two files of an Enable FULL X update the receiver shows a page
// of its own; a technician at the terminal confirms it, as in the window.
// False when the input ended instead (Ctrl-D): that cancels the second file.
bool WaitForFullXPage(Console& console, const std::string& label) {
    if (!console.stdinIsTerminal) {
        Say(console.err, label + ": first file sent, sending the second");
        return true;
    }
    Say(console.err, std::string(kChipPageWaitLine) + " Press Enter once " + kChipPageLine);
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n') {
    }
    return c == '\n';
}

// Between the two files: the technician's go-ahead, and the second file as it
// is now, since it may have changed while the first went out. An empty text
// when it may go.
Failure BeforeSecondFile(const Options& options, Console& console, const std::string& label, ImageKind kind,
                         const std::string& file) {
    const bool confirmed = options.reportProgress || WaitForFullXPage(console, label);
    // A Ctrl-C at the prompt must not let the second file go out.
    if (InterruptRequested()) return {kExitInterrupted, "interrupted"};
    if (!confirmed) return {kExitRunFailed, "input ended at the prompt: " + file + " was not sent"};
    if (const std::string changed = CheckUploadFiles(kind, {file}); !changed.empty())
        return {kExitRunFailed, changed + "; it was not sent"};
    return {kExitOk, {}};
}

// Why a read-back that ran to its end brought no whole image, naming the
// cause where the line was not to blame.
std::string ReadBackFailureText(const RunOutcome& outcome, ReadBackOutput& output) {
    const std::string& name = output.Name();
    if (outcome.result == kResultLengthMismatch) {
        if (outcome.failure.fault == RunFault::OutputNotWritten)
            return name + ": cannot write the file: " + std::strerror(outcome.failure.error) + "; " + output.Abandon();
        if (outcome.failure.fault == RunFault::ImageTooLarge)
            return name + ": the receiver sent more than the 2.5 MiB buffer holds; " + output.Abandon();
        return name + ": incomplete read-back (the length differs from the one the receiver announced); " +
               output.Abandon() + ". Please try again.";
    }
    if (outcome.failure.fault == RunFault::OutputNotCreated)
        return "cannot create " + name + ": " + std::strerror(outcome.failure.error);
    return "the read-back failed (result " + std::to_string(outcome.result) + ")";
}

}  // namespace

PortMap TargetPorts(const Options& options) {
    PortMap ports = PortMap::Machine();
    for (const auto& t : options.targets)
        if (!t.device.empty() && t.name.empty()) ports.Override(t.portIndex, t.device);
    return ports;
}

std::string PortLabel(const Target& target, const std::string& device) {
    const std::string name = target.name.empty() ? PortNames[std::size_t(target.portIndex)] : target.name;
    return name + " (" + (device.empty() ? "no device" : device) + ")";
}

RunSetup SetupFor(const Options& options, LinkMode mode, int portIndex, const std::string& fileName, ImageKind kind,
                  AccessLevel level) {
    RunSetup setup;
    setup.mode = mode;
    setup.portIndex = portIndex;
    setup.fileName = fileName;
    setup.kind = kind;
    setup.level = level;
    setup.timeoutSeconds = EffectiveTimeoutSeconds(options);
    setup.timeoutRestartsOnProgress = mode != LinkMode::VersionQuery;
    setup.jsonTrace = options.traceJson;
    return setup;
}

// One port's line, and below it what the system says about its adapter.
static void PrintPort(Console& console, const std::string& name, const PortStatus& status) {
    std::fprintf(console.out, "%-5s %-24s %s\n", name.c_str(), status.device.empty() ? "-" : status.device.c_str(),
                 DescribePortState(status).c_str());
    if (status.device.empty()) return;
    if (const std::string adapter = AdapterDescription(status.device); !adapter.empty())
        std::fprintf(console.out, "      %s\n", adapter.c_str());
}

int RunPortsCommand(const Options&, const PortMap& ports, Console& console) {
    for (int i = 0; i < kPortCount; ++i) PrintPort(console, PortNames[std::size_t(i)], ports.Describe(i));
    for (const std::string& name : ports.OtherPorts()) PrintPort(console, name, ports.DescribeNamed(name));
    // Said, so that nobody wonders why an on-board port is missing from the list.
    for (const std::string& device : ports.ConsoleDevices())
        std::fprintf(console.out, "%-5s %-24s %s\n", "-", device.c_str(),
                     "the system console, never used as a COM port");
    std::fflush(console.out);
    return kExitOk;
}

int RunVersionCommand(const Options& options, const PortMap& ports, Console& console) {
    HeldPort target;
    if (const int status = OpenTarget(options, ports, console, target); status != kExitOk) return status;

    const RunSetup setup = SetupFor(options, LinkMode::VersionQuery, target.index);
    QueueNotifier notifier(target.label, console.err);
    StderrTracer tracer(console.err);
    const RunOutcome outcome =
        RunLink(setup, std::move(target.port), notifier, nullptr, options.trace ? &tracer : nullptr);
    if (outcome.end != RunEnd::VersionReady) {
        Failure f = DescribeUnfinishedRun(outcome, setup);
        if (outcome.end == RunEnd::TimedOut)
            f = {kExitNoVersion, "no version answer within " + Seconds(setup.timeoutSeconds)};
        return Fail(options, console, f.status, target.label, f.text);
    }
    const VersionTexts texts = VersionTextsFromBlock(outcome.versionBlock);
    std::fprintf(console.out, "Hardware version: %s\nSoftware version: %s\n", texts.hardware.c_str(),
                 texts.software.c_str());
    std::fflush(console.out);
    return kExitOk;
}

// Bytes outside printable ASCII as \xHH and a backslash doubled: a receiver's
// text can then neither move the cursor nor pose as a line of the tool's own.
static std::string EscapedForTerminal(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\\') {
            shown += "\\\\";
        } else if (byte < 0x20 || byte > 0x7e) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", unsigned(byte));
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

VersionTexts VersionTextsFromBlock(const std::array<std::uint8_t, kVersionBlockSize>& block) {
    return {EscapedForTerminal(HardwareVersion(block)), EscapedForTerminal(SoftwareVersion(block))};
}

std::string CheckUploadFiles(ImageKind kind, const std::vector<std::string>& files) {
    for (const auto& name : files) {
        const ImageFile file = OpenImage(name);
        if (file.NotRegular()) return name + " is not a regular file";
        if (!file.IsOpen()) return "cannot read " + name + ": " + std::strerror(file.Error());
        if (!Rules(kind).AcceptsSize(file.Size()))
            return name + " has " + std::to_string(file.Size()) + " bytes; kind " + KindNameAndId(kind) + " accepts " +
                   AcceptedSizesText(kind);
    }
    return {};
}

// Sends one file over the held port: kExitOk when the receiver took it, with
// the engine's doubt about it in `doubt`; otherwise the exit status, reported.
static int SendOneFile(const UploadCheck& c, PortHandle& port, UploadDoubt& doubt) {
    RunSetup setup = SetupFor(c.options, LinkMode::Upload, c.portIndex, c.file, c.kind, c.level);
    setup.keepPort = &port;
    QueueNotifier notifier(c.label, c.console.err);
    StderrTracer tracer(c.console.err);
    auto progress = MakeProgressView(c.style, c.console.err, c.label + " " + c.file);
    const RunOutcome outcome =
        RunLink(setup, std::move(port), notifier, progress.get(), c.options.trace ? &tracer : nullptr);

    if (outcome.end != RunEnd::Finished) {
        const Failure f = DescribeUnfinishedRun(outcome, setup);
        return Fail(c.options, c.console, f.status, c.label, c.file + ": " + f.text);
    }
    if (outcome.result != kResultSuccess) {
        const std::string why = outcome.failure.fault == RunFault::ImageUnreadable
                                    ? "could not read " + c.file + ": " + std::strerror(outcome.failure.error)
                                : outcome.result == kResultFailure
                                    ? "the receiver aborted the transfer"
                                    : "the transfer ended with result " + std::to_string(outcome.result);
        return Fail(c.options, c.console, kExitRunFailed, c.label, c.file + ": " + why);
    }
    doubt = outcome.uploadDoubt;
    return kExitOk;
}

int RunUploadCommand(const Options& options, const PortMap& ports, Console& console) {
    const auto level = LevelOrComplain(options, console);
    if (!level) {
        ReportOutcome(options, console, kPasswordIncorrectText);
        return kExitUsage;
    }
    const ImageKind kind = *options.kind;
    std::string problem = CheckUploadFiles(kind, options.files);
    if (problem.empty() && options.verify) problem = VerifyRefusal(kind, *level);
    if (!problem.empty()) {
        Say(console.err, problem);
        ReportOutcome(options, console, problem);
        return kExitUsage;
    }
    const auto started = std::chrono::steady_clock::now();
    // Without --verify the first doubt is told once every file has gone out.
    UploadDoubt doubt = UploadDoubt::None;
    std::string doubtfulFile;
    // Held from the first file to the last, so nothing else takes the port in between.
    HeldPort target;
    if (const int status = OpenTarget(options, ports, console, target); status != kExitOk) return status;
    const int index = target.index;
    const std::string& label = target.label;
    PortHandle& port = target.port;

    for (std::size_t i = 0; i < options.files.size(); ++i) {
        const std::string& file = options.files[i];
        if (i > 0) {
            const Failure stop = BeforeSecondFile(options, console, label, kind, file);
            if (!stop.text.empty()) return Fail(options, console, stop.status, label, stop.text);
            // The first file may have left the line at the slow speed.
            port->Apply(PortSettingsFor(index));
        }
        const UploadCheck check{options, console, index, label, file, kind, *level, StyleFor(options, console)};
        UploadDoubt fileDoubt = UploadDoubt::None;
        if (const int sent = SendOneFile(check, port, fileDoubt); sent != kExitOk) return sent;
        if (options.verify) {
            // The read-back goes over the line the upload used, still held.
            if (const int settled = SettleUpload(check, std::move(port), fileDoubt); settled != kExitOk) return settled;
        } else if (doubt == UploadDoubt::None && fileDoubt != UploadDoubt::None) {
            doubt = fileDoubt;
            doubtfulFile = file;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (!options.reportProgress) {
        char text[64];
        std::snprintf(text, sizeof text, " in %.1f s", seconds);
        Say(console.out, label + ": sent " + (options.files.size() == 1 ? options.files[0] : "both files") + text);
        Say(console.err, Rules(kind).afterUpload == AfterUpload::Reboots ? kRebootLine : kKeepPowerLine);
    }
    if (doubt != UploadDoubt::None) {
        const UploadCheck check{options, console, index, label, doubtfulFile, kind, *level, StyleFor(options, console)};
        return SettleUpload(check, nullptr, doubt);
    }
    ReportOutcome(options, console, "ok");
    return kExitOk;
}

int RunReadBackCommand(const Options& options, const PortMap& ports, Console& console) {
    const auto level = LevelOrComplain(options, console);
    if (!level) return kExitUsage;
    const ImageKind kind = *options.kind;
    if (const std::string refusal = ReadBackRefusal(kind, *level); !refusal.empty()) {
        Say(console.err, "cannot read back: " + refusal);
        return kExitUsage;
    }
    ReadBackOutput output;
    if (!output.Prepare(options.output.empty() ? std::string(Rules(kind).readBackFile) : options.output,
                        options.force)) {
        Say(console.err, output.Refusal());
        return output.RefusalStatus();
    }
    const std::string& name = output.Name();
    HeldPort target;
    if (const int status = OpenTarget(options, ports, console, target); status != kExitOk) return status;
    const std::string& label = target.label;

    if (!options.reportProgress && Rules(kind).readBackRequest == kCodeStandBy)
        Say(console.err, label +
                             ": waiting for the receiver: start the read-back from its menu "
                             "(the request goes out after every 50 s of silence)");

    const RunSetup setup = SetupFor(options, LinkMode::ReadBack, target.index, name, kind);
    QueueNotifier notifier(label, console.err);
    StderrTracer tracer(console.err);
    auto progress = MakeProgressView(StyleFor(options, console), console.err, label + " " + name);
    const RunOutcome outcome =
        RunLink(setup, std::move(target.port), notifier, progress.get(), options.trace ? &tracer : nullptr);

    if (outcome.end != RunEnd::Finished) {
        const Failure f = DescribeUnfinishedRun(outcome, setup);
        return Fail(options, console, f.status, label, name + ": " + f.text + "; " + output.Abandon());
    }
    if (outcome.result != kResultSuccess)
        return Fail(options, console, kExitRunFailed, label, ReadBackFailureText(outcome, output));
    const long long size = RegularFileSize(name).value_or(-1);
    Say(console.out, label + ": received " + name + " (" + std::to_string(size) + " bytes)");
    return kExitOk;
}

}  // namespace tarven::cli
