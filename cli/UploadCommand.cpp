// upload: one receiver, one file or the two of an Enable FULL X update, over
// a port held from the first byte to the last.
#include <chrono>
#include <cstring>
#include <optional>

#include "CommandParts.h"
#include "ImageRules.h"
#include "KindTable.h"
#include "OutcomeTexts.h"
#include "PortAccess.h"
#include "RunRecord.h"
#include "Verify.h"
#include "VersionBlock.h"

namespace tarven::cli {
namespace {

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

// Sends one file over the held port: kExitOk when the receiver took it, with
// the engine's doubt about it in `doubt`; otherwise the exit status, reported.
int SendOneFile(const UploadCheck& c, PortHandle& port, UploadDoubt& doubt) {
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

// --read-versions: a version query on the held port before anything is
// sent, so the record says which receiver took the image. The port comes
// back for the upload; no answer ends the run with nothing sent.
int ReadVersionsFirst(const Options& options, Console& console, HeldPort& target) {
    RunSetup setup = SetupFor(options, LinkMode::VersionQuery, target.index);
    setup.timeoutSeconds = VersionTimeoutSeconds(options);
    setup.keepPort = &target.port;
    VersionTexts texts;
    if (const int status = QueryVersions(options, console, target, setup, "; nothing was sent", texts);
        status != kExitOk)
        return status;
    if (!target.port) return Fail(options, console, kExitRunFailed, target.label, "the port is no longer open");
    if (options.reportProgress) Say(console.err, VersionsReportLine(texts.hardware, texts.software));
    else
        Say(console.err,
            target.label + ": hardware version " + texts.hardware + ", software version " + texts.software);
    // The upload starts afresh: the normal speed, nothing left of the answer.
    target.port->Apply(PortSettingsFor(target.index));
    target.port->Purge();
    return kExitOk;
}

// The password, the files and --verify, settled before the port is opened:
// nothing goes on the line for an upload that cannot be done.
std::optional<AccessLevel> CheckedLevel(const Options& options, Console& console) {
    const auto level = LevelOrComplain(options, console);
    if (!level) {
        NoteOutcome(options, console, kPasswordIncorrectText);
        return std::nullopt;
    }
    std::string problem = CheckUploadFiles(*options.kind, options.files);
    if (problem.empty() && options.verify) problem = VerifyRefusal(*options.kind, *level);
    if (problem.empty()) return level;
    Say(console.err, problem);
    NoteOutcome(options, console, problem);
    return std::nullopt;
}

int UploadRun(const Options& options, const PortMap& ports, Console& console) {
    const auto level = CheckedLevel(options, console);
    if (!level) return kExitUsage;
    const ImageKind kind = *options.kind;
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
    if (options.readVersions) {
        if (const int status = ReadVersionsFirst(options, console, target); status != kExitOk) return status;
    }

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
            console.record->doubt = DoubtWord(fileDoubt);
            doubt = fileDoubt;
            doubtfulFile = file;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (!options.reportProgress) {
        char text[64];
        std::snprintf(text, sizeof text, " in %.1f s", seconds);
        if (!options.json)
            Say(console.out, label + ": sent " + (options.files.size() == 1 ? options.files[0] : "both files") + text);
        Say(console.err, Rules(kind).afterUpload == AfterUpload::Reboots ? kRebootLine : kKeepPowerLine);
    }
    if (doubt != UploadDoubt::None) {
        const UploadCheck check{options, console, index, label, doubtfulFile, kind, *level, StyleFor(options, console)};
        return SettleUpload(check, nullptr, doubt);
    }
    NoteOutcome(options, console, "ok");
    return kExitOk;
}

}  // namespace

int RunUploadCommand(const Options& options, const PortMap& ports, Console& console) {
    RunRecord record;
    record.command = "upload";
    record.kind = options.kind;
    RecordTarget(record, options.targets.front(), options.targets.front().device);
    RecordFiles(record, options.files);
    return RunRecorded(options, console, record, [&] { return UploadRun(options, ports, console); });
}

}  // namespace tarven::cli
