#include "Commands.h"

#include <cstring>

#include "CommandParts.h"
#include "ImageFile.h"
#include "ImageRules.h"
#include "Json.h"
#include "KindTable.h"
#include "LinkRun.h"
#include "OutcomeTexts.h"
#include "PortAccess.h"
#include "PortMap.h"
#include "ReadBackOutput.h"
#include "RunRecord.h"
#include "Verify.h"
#include "VersionBlock.h"

namespace tarven::cli {

void Say(std::FILE* stream, const std::string& text) {
    std::fprintf(stream, "%s\n", text.c_str());
    std::fflush(stream);
}

std::string SecondsText(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", s);
    return text;
}

ProgressStyle StyleFor(const Options& options, const Console& console) {
    if (options.reportProgress) return ProgressStyle::Report;
    if (console.errIsTerminal) return ProgressStyle::Bar;
    // A script reading --json has its own log: no progress lines in it.
    return options.json ? ProgressStyle::None : ProgressStyle::Lines;
}

Failure DescribeUnfinishedRun(const RunOutcome& outcome, const RunSetup& setup) {
    switch (outcome.end) {
        case RunEnd::TimedOut:
            if (setup.timeoutRestartsOnProgress)
                return {kExitRunFailed, "no progress for " + SecondsText(setup.timeoutSeconds) +
                                            ", gave up (is the receiver on and waiting for this transfer?)"};
            return {kExitRunFailed, "no answer within " + SecondsText(setup.timeoutSeconds)};
        case RunEnd::Vanished: return {kExitRunFailed, "the device vanished during the run (adapter unplugged?)"};
        case RunEnd::Interrupted: return {kExitInterrupted, "interrupted"};
        case RunEnd::NotStarted: return {kExitRunFailed, "the link worker could not be started"};
        case RunEnd::Finished:
        case RunEnd::VersionReady: break;
    }
    return {kExitRunFailed, "the run ended with result " + std::to_string(outcome.result)};
}

void NoteOutcome(const Options& options, Console& console, const std::string& outcome) {
    if (console.record && console.record->reason.empty() && outcome != "ok") console.record->reason = outcome;
    if (options.reportProgress) Say(console.err, OutcomeReportLine(outcome));
}

int Fail(const Options& options, Console& console, int status, const std::string& label, const std::string& text) {
    Say(console.err, label + ": " + text);
    NoteOutcome(options, console, text);
    return status;
}

int OpenTarget(const Options& options, const PortMap& ports, Console& console, HeldPort& held) {
    const Target& target = options.targets.front();
    held.index = target.portIndex;
    // A port beyond COM6 carries its device itself and leaves COM1's mapping alone.
    const bool named = !target.name.empty();
    const std::string device = named ? target.device : ports.Device(held.index);
    held.label = PortLabel(target, device);
    if (console.record) RecordTarget(*console.record, target, device);
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

namespace {

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

// The state as a word for scripts; DescribePortState gives the sentence.
static const char* PortStateWord(PortState state) {
    static const char* const kWords[] = {"available",         "no_device",      "missing",        "busy",
                                         "permission_denied", "not_a_terminal", "system_console", "own_terminal",
                                         "settings_refused",  "other_error"};
    return kWords[int(state)];
}

static std::string PortJson(const std::string& name, const PortStatus& status) {
    JsonObject o;
    o.Text("name", name).NonEmptyOrNull("device", status.device).Text("state", PortStateWord(status.state));
    if (status.state == PortState::Available) o.Null("reason");
    else o.Text("reason", DescribePortState(status));
    const std::string adapter = status.device.empty() ? std::string() : AdapterDescription(status.device);
    if (adapter.empty()) return o.Null("adapter").Done();
    JsonObject a;
    a.Text("description", adapter).NonEmptyOrNull("serial", AdapterSerial(adapter));
    return o.Raw("adapter", a.Done()).Done();
}

static int PrintPortsJson(const PortMap& ports, Console& console) {
    std::vector<std::string> rows, consoles;
    for (int i = 0; i < kPortCount; ++i) rows.push_back(PortJson(PortNames[std::size_t(i)], ports.Describe(i)));
    for (const std::string& name : ports.OtherPorts()) rows.push_back(PortJson(name, ports.DescribeNamed(name)));
    for (const std::string& device : ports.ConsoleDevices()) consoles.push_back(JsonQuote(device));
    JsonObject o;
    o.Raw("ports", JsonArray(rows)).Raw("console", JsonArray(consoles));
    Say(console.out, o.Done());
    return kExitOk;
}

int RunPortsCommand(const Options& options, const PortMap& ports, Console& console) {
    if (options.json) return PrintPortsJson(ports, console);
    for (int i = 0; i < kPortCount; ++i) PrintPort(console, PortNames[std::size_t(i)], ports.Describe(i));
    for (const std::string& name : ports.OtherPorts()) PrintPort(console, name, ports.DescribeNamed(name));
    // Said, so that nobody wonders why an on-board port is missing from the list.
    for (const std::string& device : ports.ConsoleDevices())
        std::fprintf(console.out, "%-5s %-24s %s\n", "-", device.c_str(),
                     "the system console, never used as a COM port");
    std::fflush(console.out);
    return kExitOk;
}

int QueryVersions(const Options& options, Console& console, HeldPort& target, const RunSetup& setup,
                  const std::string& unanswered, VersionTexts& texts) {
    QueueNotifier notifier(target.label, console.err);
    StderrTracer tracer(console.err);
    const RunOutcome outcome =
        RunLink(setup, std::move(target.port), notifier, nullptr, options.trace ? &tracer : nullptr);
    if (outcome.end != RunEnd::VersionReady) {
        Failure f = DescribeUnfinishedRun(outcome, setup);
        if (outcome.end == RunEnd::TimedOut)
            f = {kExitNoVersion, "no version answer within " + SecondsText(setup.timeoutSeconds) + unanswered};
        return Fail(options, console, f.status, target.label, f.text);
    }
    console.record->hardware = HardwareVersion(outcome.versionBlock);
    console.record->software = SoftwareVersion(outcome.versionBlock);
    texts = VersionTextsFromBlock(outcome.versionBlock);
    return kExitOk;
}

static int VersionRun(const Options& options, const PortMap& ports, Console& console) {
    HeldPort target;
    if (const int status = OpenTarget(options, ports, console, target); status != kExitOk) return status;

    VersionTexts texts;
    const RunSetup setup = SetupFor(options, LinkMode::VersionQuery, target.index);
    if (const int status = QueryVersions(options, console, target, setup, "", texts); status != kExitOk)
        return status;
    if (options.json) return kExitOk;
    std::fprintf(console.out, "Hardware version: %s\nSoftware version: %s\n", texts.hardware.c_str(),
                 texts.software.c_str());
    std::fflush(console.out);
    return kExitOk;
}

int RunVersionCommand(const Options& options, const PortMap& ports, Console& console) {
    RunRecord record;
    record.command = "version";
    RecordTarget(record, options.targets.front(), options.targets.front().device);
    return RunRecorded(options, console, record, [&] { return VersionRun(options, ports, console); });
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

static int ReadBackRun(const Options& options, const PortMap& ports, Console& console) {
    const auto level = LevelOrComplain(options, console);
    if (!level) {
        NoteOutcome(options, console, kPasswordIncorrectText);
        return kExitUsage;
    }
    const ImageKind kind = *options.kind;
    if (const std::string refusal = ReadBackRefusal(kind, *level); !refusal.empty()) {
        Say(console.err, "cannot read back: " + refusal);
        NoteOutcome(options, console, refusal);
        return kExitUsage;
    }
    ReadBackOutput output;
    if (!output.Prepare(options.output.empty() ? std::string(Rules(kind).readBackFile) : options.output,
                        options.force)) {
        Say(console.err, output.Refusal());
        NoteOutcome(options, console, output.Refusal());
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
    RecordFiles(*console.record, {name});
    const long long size = RegularFileSize(name).value_or(-1);
    if (!options.json) Say(console.out, label + ": received " + name + " (" + std::to_string(size) + " bytes)");
    return kExitOk;
}

int RunReadBackCommand(const Options& options, const PortMap& ports, Console& console) {
    RunRecord record;
    record.command = "readback";
    record.kind = options.kind;
    RecordTarget(record, options.targets.front(), options.targets.front().device);
    return RunRecorded(options, console, record, [&] { return ReadBackRun(options, ports, console); });
}

}  // namespace tarven::cli
