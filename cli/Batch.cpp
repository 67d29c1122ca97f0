#include "Batch.h"

#include <algorithm>
#include <chrono>

#include "ChildProcess.h"
#include "ImageRules.h"
#include "Json.h"
#include "LinkRun.h"
#include "OutcomeTexts.h"
#include "PortMap.h"
#include "Progress.h"
#include "ReportFile.h"
#include "RunRecord.h"
#include "Verify.h"

namespace tarven::cli {
namespace {

using Clock = std::chrono::steady_clock;

// How long the parent sleeps between looks at an interrupt when no child writes.
constexpr int kOutputWaitMs = 200;

struct Child {
    std::string label;
    BatchRow row;
    ChildProcess process;
    std::string pending;  // a line not complete yet
    Clock::time_point started;
    long totalKb = -1, positionKb = 0;
    int shownTenths = 0;
    bool outcomeSeen = false;
    bool done = false;
};

// Two targets may name one COM port, each with a --device of its own.
std::string DeviceOf(const Target& t, const PortMap& ports) {
    return t.device.empty() ? ports.Device(t.portIndex) : t.device;
}

std::string LabelOf(const Target& t, const PortMap& ports) { return PortLabel(t, DeviceOf(t, ports)); }

std::string ExitText(int status) {
    if (status >= 0) return std::to_string(status);
    return "killed";
}

std::string RowText(const Child& c) {
    std::string state;
    if (c.done) state = c.row.exitStatus == 0 ? "done" : "FAILED: " + c.row.outcome;
    else if (c.totalKb < 0) state = "waiting for the receiver";
    else state = FormatProgressBar(c.totalKb, c.positionKb, 20);
    if (!c.done && c.row.verify == kVerifyReading) state = "verify " + state;
    return c.label + "  " + state;
}

// The screen of a batch: on a terminal a block of one line per receiver that
// is redrawn in place, with messages printed above it; otherwise plain lines.
class Board {
public:
    // `quiet`: no plain progress lines (--json without a terminal).
    Board(std::FILE* err, bool terminal, bool quiet, std::vector<Child>& children)
        : err_(err), terminal_(terminal), quiet_(quiet), children_(children) {}

    void Message(const Child& c, const std::string& line) {
        Erase();
        if (line.rfind(c.label, 0) == 0) std::fprintf(err_, "%s\n", line.c_str());
        else std::fprintf(err_, "%s: %s\n", c.label.c_str(), line.c_str());
        Draw();
    }
    void Progress(Child& c) {
        if (terminal_) {
            // A redraw per block would flood a slow terminal.
            if (Clock::now() - lastDraw_ < std::chrono::milliseconds(100)) return;
            Erase();
            Draw();
            return;
        }
        const int tenths = ProgressTenths(c.totalKb, c.positionKb);
        if (quiet_ || c.totalKb < 0 || tenths <= c.shownTenths) return;
        c.shownTenths = tenths;
        std::fprintf(err_, "%s: %ld/%ld KB (%d%%)\n", c.label.c_str(), c.positionKb, c.totalKb, tenths * 10);
        std::fflush(err_);
    }
    void Finished(const Child& c) {
        if (terminal_) {
            Erase();
            Draw();
        } else {
            std::fprintf(err_, "%s: %s\n", c.label.c_str(),
                         c.row.exitStatus == 0 ? "done" : ("FAILED: " + c.row.outcome).c_str());
            std::fflush(err_);
        }
    }
    void Close() { drawn_ = 0; }

private:
    void Erase() {
        if (!terminal_ || drawn_ == 0) return;
        std::fprintf(err_, "\x1b[%dA\r\x1b[J", drawn_);
        drawn_ = 0;
    }
    void Draw() {
        if (!terminal_) {
            std::fflush(err_);
            return;
        }
        for (const auto& c : children_) std::fprintf(err_, "\x1b[2K%s\n", RowText(c).c_str());
        drawn_ = int(children_.size());
        lastDraw_ = Clock::now();
        std::fflush(err_);
    }

    std::FILE* err_;
    bool terminal_;
    bool quiet_;
    std::vector<Child>& children_;
    int drawn_ = 0;
    Clock::time_point lastDraw_{};
};

void HandleLine(Child& c, const std::string& line, Board& board) {
    Report report;
    if (!ParseReportLine(line, report)) {
        board.Message(c, line);
        return;
    }
    if (report.kind == Report::Kind::Outcome) {
        c.row.outcome = report.outcome;
        c.outcomeSeen = true;
        return;
    }
    if (report.kind == Report::Kind::Record) {
        c.row.record = report.outcome;
        return;
    }
    if (report.kind == Report::Kind::Versions) {
        c.row.versions = report.outcome;
        board.Message(c, "versions: " + report.outcome);
        return;
    }
    if (report.kind == Report::Kind::Verify) {
        c.row.verify = report.outcome;
        if (report.outcome == kVerifyReading) {  // the second phase: its progress starts afresh
            c.totalKb = -1;
            c.positionKb = 0;
            c.shownTenths = 0;
            board.Message(c, "upload finished; reading the image back to verify it");
        }
        return;
    }
    c.totalKb = report.totalKb;
    c.positionKb = report.positionKb;
    board.Progress(c);
}

void Reap(Child& c, Board& board) {
    c.row.exitStatus = c.process.Wait();
    c.row.seconds = std::chrono::duration<double>(Clock::now() - c.started).count();
    if (!c.outcomeSeen) c.row.outcome = c.row.exitStatus == 0 ? "ok" : "ended without a report";
    if (c.row.exitStatus != 0 && c.row.exitStatus != kExitRunFailed)
        c.row.outcome = "exit " + ExitText(c.row.exitStatus) + ": " + c.row.outcome;
    c.done = true;
    board.Finished(c);
}

// Whatever the child has written so far, line by line; its end once its output is over.
void ReadOutput(Child& c, Board& board) {
    char buffer[4096];
    const long n = c.process.OutputOpen() ? c.process.Read(buffer, sizeof buffer) : -1;
    if (n < 0) return;
    if (n == 0) {
        if (!c.pending.empty()) HandleLine(c, c.pending, board);
        c.pending.clear();
        Reap(c, board);
        return;
    }
    c.pending.append(buffer, std::size_t(n));
    std::size_t end;
    while ((end = c.pending.find('\n')) != std::string::npos) {
        // A child on Windows ends its lines with CR LF.
        const std::size_t length = end > 0 && c.pending[end - 1] == '\r' ? end - 1 : end;
        const std::string line = c.pending.substr(0, length);
        c.pending.erase(0, end + 1);
        HandleLine(c, line, board);
    }
}

}  // namespace

std::string FormatBatchSummary(const std::vector<BatchRow>& rows) {
    auto result = [](const BatchRow& r) {
        if (r.exitStatus == 0) return std::string("ok");
        if (r.exitStatus == kExitUnconfirmed) return "UNCONFIRMED: " + r.outcome;
        if (r.exitStatus == kExitVerifyMismatch) return "DIFFERENT: " + r.outcome;
        return "FAILED: " + r.outcome;
    };
    const bool verified = std::any_of(rows.begin(), rows.end(), [](const BatchRow& r) { return !r.verify.empty(); });
    const bool versioned = std::any_of(rows.begin(), rows.end(), [](const BatchRow& r) { return !r.versions.empty(); });
    std::size_t deviceWidth = 6, resultWidth = 6, verifyWidth = 6;
    for (const auto& r : rows) {
        deviceWidth = std::max(deviceWidth, r.device.size());
        resultWidth = std::max(resultWidth, result(r).size());
        verifyWidth = std::max(verifyWidth, r.verify.size());
    }
    auto padded = [](std::string text, std::size_t width) {
        text.resize(std::max(text.size(), width), ' ');
        return text;
    };
    auto line = [&](const std::string& port, const std::string& device, const std::string& res, const std::string& time,
                    const std::string& verify, const std::string& versions) {
        std::string text = padded(port, 5) + " " + padded(device, deviceWidth) + "  " + padded(res, resultWidth) + "  ";
        if (!verified && !versioned) return text + time + "\n";
        text += padded(time, 8) + "  ";
        if (verified) text += versioned ? padded(verify, verifyWidth) + "  " : verify;
        return text + (versioned ? versions : std::string()) + "\n";
    };
    std::string table = line("PORT", "DEVICE", "RESULT", "TIME", "VERIFY", "VERSIONS");
    for (const auto& r : rows) {
        char time[32];
        std::snprintf(time, sizeof time, "%.1f s", r.seconds);
        table += line(r.port, r.device.empty() ? "-" : r.device, result(r), time, r.verify.empty() ? "-" : r.verify,
                      r.versions.empty() ? "-" : r.versions);
    }
    return table;
}

int BatchExitStatus(const std::vector<BatchRow>& rows) {
    bool different = false, unconfirmed = false;
    for (const auto& r : rows) {
        if (r.exitStatus == kExitVerifyMismatch) different = true;
        else if (r.exitStatus == kExitUnconfirmed) unconfirmed = true;
        else if (r.exitStatus != kExitOk) return kExitRunFailed;
    }
    return different ? kExitVerifyMismatch : unconfirmed ? kExitUnconfirmed : kExitOk;
}

std::string CheckDistinctTargets(const Options& options, const PortMap& ports) {
    const auto& t = options.targets;
    for (std::size_t i = 0; i < t.size(); ++i)
        for (std::size_t j = i + 1; j < t.size(); ++j) {
            const bool samePort = t[i].portIndex == t[j].portIndex && t[i].device.empty() && t[j].device.empty();
            if (samePort || SameDevice(DeviceOf(t[i], ports), DeviceOf(t[j], ports)))
                return LabelOf(t[i], ports) + " and " + LabelOf(t[j], ports) + " are the same receiver";
        }
    return {};
}

namespace {

// Everything that would fail in every child is settled once, here. Empty when the batch may start.
std::string BatchRefusal(const Options& options, const PortMap& ports) {
    if (options.password && !TypedPasswordAccessLevel(*options.password)) return kPasswordIncorrectText;
    const AccessLevel level = options.password ? *TypedPasswordAccessLevel(*options.password) : AccessLevel::Standard;
    const std::string verifyRefusal = options.verify ? VerifyRefusal(*options.kind, level) : std::string();
    for (const std::string& problem :
         {CheckUploadFiles(*options.kind, options.files), CheckDistinctTargets(options, ports), verifyRefusal})
        if (!problem.empty()) return problem;
    return {};
}

// Reads what the children write until every one has ended; an interrupt is passed on to them once.
void FollowChildren(std::vector<Child>& children, Board& board) {
    bool forwarded = false;
    for (;;) {
        std::vector<ChildProcess*> open;
        for (auto& c : children)
            if (c.process.OutputOpen()) open.push_back(&c.process);
        if (open.empty()) break;
        if (InterruptRequested() && !forwarded) {
            for (auto* p : open) p->Interrupt();
            forwarded = true;
        }
        if (!WaitForOutput(open, kOutputWaitMs)) continue;
        for (auto& c : children) ReadOutput(c, board);
    }
    board.Close();
}

// The record of a child that ended without handing one over (it could not
// start, or something killed it): what the parent knows, so no receiver
// goes unrecorded.
std::string FallbackRecord(const Options& options, const BatchRow& row, const Target& target) {
    RunRecord record;
    record.command = "upload";
    record.kind = options.kind;
    RecordTarget(record, target, row.device);
    RecordFiles(record, options.files);
    record.exitStatus = row.exitStatus;
    record.reason = row.outcome;
    record.seconds = row.seconds;
    return RecordJson(record);
}

// The batch's rows, each with its record: the child's own, or one made here
// and appended to the report, which that child did not do.
std::vector<BatchRow> RecordedRows(const Options& options, Console& console, ReportFile& report,
                                   const std::vector<Child>& children) {
    std::vector<BatchRow> rows;
    for (std::size_t i = 0; i < children.size(); ++i) {
        BatchRow& row = rows.emplace_back(children[i].row);
        if (!row.record.empty()) continue;
        row.record = FallbackRecord(options, row, options.targets[i]);
        if (const std::string failure = report.IsOpen() ? report.Append(row.record + "\n") : std::string();
            !failure.empty())
            std::fprintf(console.err, "tarven-link: the report line of %s could not be written to %s: %s\n",
                         children[i].label.c_str(), options.report.c_str(), failure.c_str());
    }
    return rows;
}

void PrintRecords(const std::vector<BatchRow>& rows, Console& console) {
    std::vector<std::string> records;
    for (const BatchRow& row : rows) records.push_back(row.record);
    std::fprintf(console.out, "%s\n", JsonArray(records).c_str());
    std::fflush(console.out);
}

}  // namespace

int RunBatchUpload(const Options& options, const PortMap& ports, Console& console, const std::string& program) {
    // The children open the report too; opened here first, a report that
    // cannot be written stops the batch before any child starts.
    ReportFile report;
    if (const std::string failure = options.report.empty() ? std::string() : report.Open(options.report);
        !failure.empty()) {
        std::fprintf(console.err, "tarven-link: cannot open the report %s: %s; nothing was sent\n",
                     options.report.c_str(), failure.c_str());
        return kExitUsage;
    }
    std::vector<Child> children(options.targets.size());
    for (std::size_t i = 0; i < children.size(); ++i) {
        const Target& t = options.targets[i];
        children[i].label = LabelOf(t, ports);
        children[i].row.port = t.name.empty() ? PortNames[std::size_t(t.portIndex)] : t.name;
        children[i].row.device = DeviceOf(t, ports);
    }
    // Refused for all: every receiver's record says why, as a single run's would.
    if (const std::string refusal = BatchRefusal(options, ports); !refusal.empty()) {
        std::fprintf(console.err, "%s\n", refusal.c_str());
        for (Child& c : children) {
            c.row.exitStatus = kExitUsage;
            c.row.outcome = refusal;
        }
        const std::vector<BatchRow> rows = RecordedRows(options, console, report, children);
        if (options.json) PrintRecords(rows, console);
        return kExitUsage;
    }

    for (std::size_t i = 0; i < children.size(); ++i) {
        Child& c = children[i];
        c.started = Clock::now();
        const std::string failure = c.process.Start(program, ChildArguments(options, options.targets[i]));
        if (!failure.empty()) {
            c.row.outcome = "could not start a process: " + failure;
            c.done = true;
        }
    }
    Board board(console.err, console.errIsTerminal, options.json, children);
    FollowChildren(children, board);

    const std::vector<BatchRow> rows = RecordedRows(options, console, report, children);
    if (options.json) {
        PrintRecords(rows, console);
    } else {
        std::fputs(FormatBatchSummary(rows).c_str(), console.out);
        std::fflush(console.out);
    }
    if (InterruptRequested()) return kExitInterrupted;
    return BatchExitStatus(rows);
}

}  // namespace tarven::cli
