// How a transfer's progress reaches the technician: a redrawn bar on a
// terminal, a few plain lines in a log, or machine lines for a batch parent.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace tarven::cli {

// "[#########-----------]  512/1024 KB  50%"; before a total is known only the
// kilobytes so far.
std::string FormatProgressBar(long totalKb, long positionKb, int width = 30);

// Tenths of the total reached (0..10); plain output prints one line per tenth.
int ProgressTenths(long totalKb, long positionKb);

// Lines a batch child writes so its parent can follow it; anything else the
// child writes is a message for the technician.
inline constexpr char kReportPrefix = '\x01';
std::string ProgressReportLine(long totalKb, long positionKb);
std::string OutcomeReportLine(const std::string& outcome);
// --verify: the state of the check ("reading", then its result).
inline constexpr const char* kVerifyReading = "reading";
std::string VerifyReportLine(const std::string& state);
// The child's run record (RunRecord.h), one JSON object.
std::string RecordReportLine(const std::string& json);
// upload --read-versions: the receiver's two texts, as VersionTextsFromBlock shows them.
std::string VersionsReportLine(const std::string& hardware, const std::string& software);
// Reads a report line (without its newline). False for an ordinary message.
struct Report {
    enum class Kind { Progress, Outcome, Verify, Record, Versions } kind = Kind::Progress;
    long totalKb = -1, positionKb = 0;
    std::string outcome;  // also the record's JSON, or "hardware / software"
};
bool ParseReportLine(const std::string& line, Report& report);

class ProgressView {
public:
    virtual ~ProgressView() = default;
    virtual void Total(long kb) = 0;
    virtual void Position(long kb) = 0;
    // The run is over: leave the line in a clean state.
    virtual void End() = 0;
};

enum class ProgressStyle { Bar, Lines, Report, None };
// `label` names the port and file the progress belongs to. Null for None.
std::unique_ptr<ProgressView> MakeProgressView(ProgressStyle style, std::FILE* err, std::string label);

}  // namespace tarven::cli
