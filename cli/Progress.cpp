#include "Progress.h"

#include <algorithm>
#include <cstdlib>

#include "ProcessPlatform.h"

namespace tarven::cli {

std::string FormatProgressBar(long totalKb, long positionKb, int width) {
    if (totalKb < 0) return std::to_string(positionKb) + " KB";
    const long shown = std::min(positionKb, totalKb);
    const int filled = totalKb > 0 ? int(shown * width / totalKb) : width;
    const long percent = totalKb > 0 ? shown * 100 / totalKb : 100;
    // Appended piece by piece: a literal in front of a temporary string makes
    // GCC 12 at -O3 see an overlapping copy that cannot happen (-Wrestrict).
    std::string bar(1, '[');
    bar.append(std::size_t(filled), '#').append(std::size_t(width - filled), '-');
    bar.append("] ").append(std::to_string(positionKb)).append("/").append(std::to_string(totalKb));
    return bar.append(" KB ").append(std::to_string(percent)).append("%");
}

int ProgressTenths(long totalKb, long positionKb) {
    // An image below 1 KB has a total of 0: it is all there once anything is.
    if (totalKb <= 0) return positionKb > 0 ? 10 : 0;
    return int(std::clamp(positionKb * 10 / totalKb, 0L, 10L));
}

std::string ProgressReportLine(long totalKb, long positionKb) {
    return std::string(1, kReportPrefix) + "progress " + std::to_string(positionKb) + " " + std::to_string(totalKb);
}

std::string OutcomeReportLine(const std::string& outcome) {
    return std::string(1, kReportPrefix) + "outcome " + outcome;
}

std::string VerifyReportLine(const std::string& state) { return std::string(1, kReportPrefix) + "verify " + state; }

std::string RecordReportLine(const std::string& json) { return std::string(1, kReportPrefix) + "record " + json; }

// Shown texts hold no control bytes: a tab parts them safely.
std::string VersionsReportLine(const std::string& hardware, const std::string& software) {
    return std::string(1, kReportPrefix) + "versions " + hardware + "\t" + software;
}

bool ParseReportLine(const std::string& line, Report& report) {
    if (line.empty() || line[0] != kReportPrefix) return false;
    const std::string body = line.substr(1);
    if (body.rfind("record ", 0) == 0) {
        report.kind = Report::Kind::Record;
        report.outcome = body.substr(7);
        return true;
    }
    if (body.rfind("versions ", 0) == 0) {
        report.kind = Report::Kind::Versions;
        report.outcome = body.substr(9);
        if (const std::size_t tab = report.outcome.find('\t'); tab != std::string::npos)
            report.outcome.replace(tab, 1, " / ");
        return true;
    }
    if (body.rfind("verify ", 0) == 0) {
        report.kind = Report::Kind::Verify;
        report.outcome = body.substr(7);
        return true;
    }
    if (body.rfind("outcome ", 0) == 0) {
        report.kind = Report::Kind::Outcome;
        report.outcome = body.substr(8);
        return true;
    }
    long position = 0, total = 0;
    if (std::sscanf(body.c_str(), "progress %ld %ld", &position, &total) == 2) {
        report.kind = Report::Kind::Progress;
        report.positionKb = position;
        report.totalKb = total;
        return true;
    }
    return false;
}

namespace {

class BarView final : public ProgressView {
public:
    BarView(std::FILE* err, std::string label)
        : err_(err), label_(std::move(label)), eraseLine_(TerminalTakesEscapes(err)) {}
    void Total(long kb) override {
        total_ = kb;
        Draw();
    }
    void Position(long kb) override {
        position_ = kb;
        Draw();
    }
    void End() override {
        if (drawn_) std::fputc('\n', err_);
        drawn_ = false;
        std::fflush(err_);
    }

private:
    void Draw() {
        // \r and erase-line: the bar stays on one line whatever its length was.
        // A console without the escape gets blanks over a longer line instead.
        const std::string line = label_ + " " + FormatProgressBar(total_, position_);
        const std::size_t blanks = eraseLine_ ? 0 : shown_ - std::min(shown_, line.size());
        std::fprintf(err_, "\r%s%s%s", eraseLine_ ? "\x1b[K" : "", line.c_str(), std::string(blanks, ' ').c_str());
        std::fflush(err_);
        shown_ = line.size();
        drawn_ = true;
    }
    std::FILE* err_;
    std::string label_;
    long total_ = -1, position_ = 0;
    bool drawn_ = false;
    bool eraseLine_;
    std::size_t shown_ = 0;
};

class LinesView final : public ProgressView {
public:
    LinesView(std::FILE* err, std::string label) : err_(err), label_(std::move(label)) {}
    void Total(long kb) override {
        total_ = kb;
        std::fprintf(err_, "%s: %ld KB to transfer\n", label_.c_str(), kb);
        std::fflush(err_);
    }
    void Position(long kb) override {
        const int tenths = ProgressTenths(total_, kb);
        if (total_ < 0 || tenths <= shownTenths_) return;
        shownTenths_ = tenths;
        std::fprintf(err_, "%s: %ld/%ld KB (%d%%)\n", label_.c_str(), kb, total_, tenths * 10);
        std::fflush(err_);
    }
    void End() override {}

private:
    std::FILE* err_;
    std::string label_;
    long total_ = -1;
    int shownTenths_ = 0;
};

class ReportView final : public ProgressView {
public:
    explicit ReportView(std::FILE* err) : err_(err) {}
    void Total(long kb) override {
        total_ = kb;
        Emit();
    }
    void Position(long kb) override {
        position_ = kb;
        Emit();
    }
    void End() override {}

private:
    void Emit() {
        std::fprintf(err_, "%s\n", ProgressReportLine(total_, position_).c_str());
        std::fflush(err_);
    }
    std::FILE* err_;
    long total_ = -1, position_ = 0;
};

}  // namespace

std::unique_ptr<ProgressView> MakeProgressView(ProgressStyle style, std::FILE* err, std::string label) {
    switch (style) {
        case ProgressStyle::Bar: return std::make_unique<BarView>(err, std::move(label));
        case ProgressStyle::Lines: return std::make_unique<LinesView>(err, std::move(label));
        case ProgressStyle::None: return nullptr;
        case ProgressStyle::Report: break;
    }
    return std::make_unique<ReportView>(err);
}

}  // namespace tarven::cli
