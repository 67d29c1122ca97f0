#include "RunRecord.h"

#include <chrono>

#include "CommandParts.h"
#include "Json.h"
#include "KindTable.h"
#include "PortAccess.h"
#include "Progress.h"
#include "ReportFile.h"

#ifndef TARVEN_TOOL_VERSION
#error "the build defines TARVEN_TOOL_VERSION"
#endif

namespace tarven::cli {
namespace {

std::string FilesJson(const std::vector<FileRecord>& files) {
    std::vector<std::string> rows;
    for (const FileRecord& f : files) {
        JsonObject row;
        row.Text("name", f.name);
        if (f.digest) row.Number("bytes", f.digest->bytes).Text("sha256", f.digest->sha256);
        else row.Null("bytes").Null("sha256");
        rows.push_back(row.Done());
    }
    return JsonArray(rows);
}

}  // namespace

const char* ResultWord(int exitStatus) {
    switch (exitStatus) {
        case kExitOk: return "ok";
        case kExitRunFailed: return "failed";
        case kExitUsage: return "refused";
        case kExitPortUnavailable: return "port unavailable";
        case kExitNoVersion: return "no version";
        case kExitUnconfirmed: return "unconfirmed";
        case kExitVerifyMismatch: return "different";
        case kExitInterrupted: return "interrupted";
        default: return "failed";
    }
}

const char* DoubtWord(UploadDoubt doubt) {
    switch (doubt) {
        case UploadDoubt::None: break;
        case UploadDoubt::AckAfterRepeat: return "ack_after_repeat";
        case UploadDoubt::EndUnanswered: return "end_unanswered";
        case UploadDoubt::BlockResent: return "block_resent";
        case UploadDoubt::StrayReply: return "stray_reply";
    }
    return "";
}

std::string AdapterSerial(const std::string& description) {
    const std::string mark = ", serial ";
    const std::size_t at = description.find(mark);
    if (at == std::string::npos) return {};
    const std::size_t from = at + mark.size();
    return description.substr(from, description.find(", ", from) - from);
}

std::string RecordJson(const RunRecord& r) {
    JsonObject o;
    o.Text("time", UtcTimeNow()).NonEmptyOrNull("host", HostName()).Text("tool_version", TARVEN_TOOL_VERSION);
    o.Text("command", r.command).Text("port", r.port).NonEmptyOrNull("device", r.device);
    o.NonEmptyOrNull("adapter_serial", r.adapterSerial);
    if (r.command != "version") {
        if (r.kind) o.Text("kind", Rules(*r.kind).name).Number("kind_id", int(*r.kind));
        else o.Null("kind").Null("kind_id");
        o.Raw("files", FilesJson(r.files));
    }
    o.TextOrNull("hardware", r.hardware).TextOrNull("software", r.software);
    o.Text("result", ResultWord(r.exitStatus)).Number("exit_status", r.exitStatus).NonEmptyOrNull("reason", r.reason);
    if (r.command != "version") o.NonEmptyOrNull("doubt", r.doubt).NonEmptyOrNull("verify", r.verify);
    return o.Seconds("seconds", r.seconds).Done();
}

void RecordTarget(RunRecord& record, const Target& target, const std::string& device) {
    record.port = target.name.empty() ? PortNames[std::size_t(target.portIndex)] : target.name;
    record.device = device;
    record.adapterSerial = device.empty() ? std::string() : AdapterSerial(AdapterDescription(device));
}

void RecordFiles(RunRecord& record, const std::vector<std::string>& files) {
    record.files.clear();
    for (const std::string& name : files) record.files.push_back({name, DigestFile(name)});
}

int RunRecorded(const Options& options, Console& console, RunRecord& record, const std::function<int()>& body) {
    ReportFile report;
    const auto started = std::chrono::steady_clock::now();
    int status = kExitUsage;
    // Opened first: a run whose record could not be kept is not started.
    if (const std::string failure = options.report.empty() ? std::string() : report.Open(options.report);
        !failure.empty()) {
        record.reason = "cannot open the report " + options.report + ": " + failure;
        Say(console.err, "tarven-link: " + record.reason + "; nothing was sent");
        if (options.reportProgress) Say(console.err, OutcomeReportLine(record.reason));
    } else {
        console.record = &record;
        status = body();
        console.record = nullptr;
    }
    record.exitStatus = status;
    record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const std::string line = RecordJson(record);
    if (report.IsOpen()) {
        if (const std::string failure = report.Append(line + "\n"); !failure.empty())
            Say(console.err, "tarven-link: the report line could not be written to " + options.report + ": " + failure);
    }
    if (options.json && !options.reportProgress) Say(console.out, line);
    if (options.reportProgress) Say(console.err, RecordReportLine(line));
    return status;
}

}  // namespace tarven::cli
