// The matrix of all soak runs, printed when the test program ends.
#include <algorithm>
#include <iomanip>
#include <map>
#include <mutex>
#include <ostream>
#include <sstream>

#include "SoakRun.h"
#include "SoakSupport.h"

namespace tarven::soak {

namespace {

struct Cell {
    int runs = 0;
    int counts[int(Outcome::Count)] = {};
    double seconds = 0;
    double maxStopMs = 0;
    int early = 0;
    double slowestLinkSeconds = 0;  // of the runs that ended on their own
    std::map<std::string, int> limits;
    // Uploads that ended with result 1, by the engine's word and by what the
    // receiver holds; and the checks read back after them.
    int confirmedIdentical = 0, confirmedDifferent = 0, unconfirmedIdentical = 0, unconfirmedDifferent = 0;
    int confirmedInvisible = 0;  // confirmed and different after an acknowledgement the receiver never sent
    int verified = 0, verifyCaught = 0, verifyMissed = 0, verifyFalseAlarm = 0, verifyNotDone = 0;
};

// Columns of the confirmation table, in print order.
struct Column {
    const char* name;
    int Cell::*count;
};
const Column kConfirmation[] = {
    {"conf-ident", &Cell::confirmedIdentical},
    {"conf-DIFF", &Cell::confirmedDifferent},
    {"conf-invis", &Cell::confirmedInvisible},
    {"unconf-ident", &Cell::unconfirmedIdentical},
    {"unconf-diff", &Cell::unconfirmedDifferent},
    {"verified", &Cell::verified},
    {"v-caught", &Cell::verifyCaught},
    {"v-MISSED", &Cell::verifyMissed},
    {"v-false", &Cell::verifyFalseAlarm},
    {"v-notdone", &Cell::verifyNotDone},
};

void CountConfirmation(Cell& cell, const RunReport& r) {
    if (r.result != kResultSuccess || r.outcome == Outcome::Hang || r.outcome == Outcome::LimitHang) return;
    const bool different = DeliveredDifferent(r);
    const bool confirmed = r.doubt == UploadDoubt::None;
    if (confirmed && different && r.invisibleAck) ++cell.confirmedInvisible;
    else
        ++(confirmed ? (different ? cell.confirmedDifferent : cell.confirmedIdentical)
                     : (different ? cell.unconfirmedDifferent : cell.unconfirmedIdentical));
    if (r.verify == VerifyVerdict::NotRun) return;
    ++cell.verified;
    if (r.verify == VerifyVerdict::NotDone) ++cell.verifyNotDone;
    else if (r.verify == VerifyVerdict::Different) ++(r.receiverHoldsImage ? cell.verifyFalseAlarm : cell.verifyCaught);
    else if (!r.receiverHoldsImage) ++cell.verifyMissed;
}

struct Matrix {
    std::mutex mutex;
    std::vector<std::pair<std::string, std::string>> order;  // transfer, profile
    std::map<std::pair<std::string, std::string>, Cell> cells;
    std::vector<std::string> notable;
    std::vector<std::string> notes;
};

Matrix& TheMatrix() {
    static Matrix matrix;
    return matrix;
}

}  // namespace

void Record(Transfer transfer, const std::string& profile, std::uint64_t seed, const RunReport& report) {
    Matrix& m = TheMatrix();
    std::lock_guard lock(m.mutex);
    const auto key = std::make_pair(std::string(Name(transfer)), profile);
    if (!m.cells.count(key)) m.order.push_back(key);
    Cell& cell = m.cells[key];
    ++cell.runs;
    ++cell.counts[int(report.outcome)];
    cell.seconds += report.seconds;
    cell.maxStopMs = std::max(cell.maxStopMs, report.stopMs);
    if (report.earlySuccess) ++cell.early;
    if (report.outcome != Outcome::LimitHang && report.outcome != Outcome::Hang)
        cell.slowestLinkSeconds = std::max(cell.slowestLinkSeconds, report.seconds * report.speedUp);
    if (report.outcome == Outcome::LimitDifferent || report.outcome == Outcome::LimitHang)
        for (const auto& l : report.limits) ++cell.limits[l];
    if (transfer == Transfer::Upload) CountConfirmation(cell, report);
    if (report.outcome != Outcome::Identical && report.outcome != Outcome::Failed &&
        report.outcome != Outcome::Mismatch) {
        std::ostringstream line;
        line << "  " << Name(transfer) << '/' << profile << " seed " << seed << ": " << Name(report.outcome)
             << " after " << std::fixed << std::setprecision(0) << report.seconds * report.speedUp << " s link";
        for (const auto& l : report.limits) line << " [" << l << ']';
        if (transfer == Transfer::Upload && report.result == kResultSuccess)
            line << " [" << (report.doubt == UploadDoubt::None ? "confirmed" : "unconfirmed") << ", check "
                 << Name(report.verify) << ']';
        line << "\n      " << report.detail;
        m.notable.push_back(line.str());
    }
}

void Note(const std::string& line) {
    Matrix& m = TheMatrix();
    std::lock_guard lock(m.mutex);
    m.notes.push_back(line);
}

namespace {

// Every upload that reported success, sorted by the engine's word; and one
// machine line per row ("soak-cell") that scripts add up across processes.
void PrintConfirmation(std::ostream& out, Matrix& m) {
    out << "\nuploads with result 1, by confirmation (conf: the engine vouches for it; DIFF/diff: the receiver\n"
           "holds another image; verified: checked by reading back, v-caught: a differing copy found,\n"
           "conf-invis: DIFF, after an acknowledgement the receiver never sent (an answer altered into one,\n"
           "a reply duplicated on the line), which no side can see; v-MISSED: a differing copy read back as identical, v-false: an identical copy read back\n"
           "different on the faulty line, v-notdone: the read-back did not come back whole):\n";
    out << std::left << std::setw(27) << "upload fault" << std::right << std::setw(5) << "runs";
    for (const Column& c : kConfirmation) out << std::setw(13) << c.name;
    out << '\n';
    Cell total;
    for (const auto& key : m.order) {
        if (key.first != Name(Transfer::Upload)) continue;
        const Cell& cell = m.cells[key];
        out << std::left << std::setw(27) << key.second << std::right << std::setw(5) << cell.runs;
        for (const Column& c : kConfirmation) {
            out << std::setw(13) << cell.*c.count;
            total.*c.count += cell.*c.count;
        }
        out << '\n';
        total.runs += cell.runs;
    }
    out << std::left << std::setw(27) << "all" << std::right << std::setw(5) << total.runs;
    for (const Column& c : kConfirmation) out << std::setw(13) << total.*c.count;
    out << '\n';
    for (const auto& key : m.order) {
        const Cell& cell = m.cells[key];
        out << "soak-cell\t" << key.first << '\t' << key.second << '\t' << cell.runs;
        for (int o = 0; o < int(Outcome::Count); ++o) out << '\t' << cell.counts[o];
        for (const Column& c : kConfirmation) out << '\t' << cell.*c.count;
        out << '\n';
    }
}

}  // namespace

void PrintMatrix(std::ostream& out) {
    Matrix& m = TheMatrix();
    std::lock_guard lock(m.mutex);
    if (m.cells.empty() && m.notes.empty()) return;
    out << "\n==== fault soak matrix (upload: link clock x" << TimingOf(Transfer::Upload).speedUp << ", bound "
        << TimingOf(Transfer::Upload).boundLinkMs / 1000 << " s link; read-back: x"
        << TimingOf(Transfer::ReadBack).speedUp << ", bound " << TimingOf(Transfer::ReadBack).boundLinkMs / 1000
        << " s link; paced line; scale " << SoakScale() << ") ====\n";
    out << std::left << std::setw(10) << "transfer" << std::setw(17) << "fault" << std::right << std::setw(5) << "runs";
    for (int o = 0; o < int(Outcome::Count); ++o) out << std::setw(11) << Name(Outcome(o));
    out << std::setw(9) << "secs" << std::setw(10) << "stop-ms" << std::setw(7) << "early" << std::setw(8) << "slow-s"
        << '\n';
    int totals[int(Outcome::Count)] = {};
    int runs = 0, early = 0;
    double seconds = 0;
    for (const auto& key : m.order) {
        const Cell& c = m.cells[key];
        out << std::left << std::setw(10) << key.first << std::setw(17) << key.second << std::right << std::setw(5)
            << c.runs;
        for (int o = 0; o < int(Outcome::Count); ++o) {
            out << std::setw(11) << c.counts[o];
            totals[o] += c.counts[o];
        }
        out << std::setw(9) << std::fixed << std::setprecision(1) << c.seconds << std::setw(10) << c.maxStopMs
            << std::setw(7) << c.early << std::setw(8) << std::setprecision(0) << c.slowestLinkSeconds << '\n';
        early += c.early;
        runs += c.runs;
        seconds += c.seconds;
    }
    out << std::left << std::setw(27) << "all" << std::right << std::setw(5) << runs;
    for (int o = 0; o < int(Outcome::Count); ++o) out << std::setw(11) << totals[o];
    out << std::setw(9) << seconds << std::setw(10) << "" << std::setw(7) << early << '\n';
    out << "(secs: real time of the runs; stop-ms: slowest stop of a worker; early: counted as identical,\n"
           " but result 1 came before the receiver had taken the end code, an acknowledgement meant for an\n"
           " earlier block taken for the end code's; slow-s: link seconds of the slowest run that ended on its own)\n";

    PrintConfirmation(out, m);
    out << "\nknown limits behind limit-diff / limit-hang (runs):\n";
    for (const auto& key : m.order)
        for (const auto& [limit, count] : m.cells[key].limits)
            out << "  " << key.first << '/' << key.second << ": " << count << " x " << limit << '\n';
    if (!m.notable.empty()) {
        out << "\nruns other than identical / result 0 / result 2:\n";
        for (const auto& line : m.notable) out << line << '\n';
    }
    if (!m.notes.empty()) {
        out << '\n';
        for (const auto& line : m.notes) out << line << '\n';
    }
    out << std::flush;
}

}  // namespace tarven::soak
