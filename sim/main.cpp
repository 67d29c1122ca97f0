// tarven-receiver-sim: a simulated receiver on a pseudo-terminal.
// Thread ownership: the main thread; the simulator runs its own line thread.
//
// The first line of standard output is the device the updater should open;
// short status lines follow. Runs until SIGINT or SIGTERM, or until its exit
// condition (--exit-after-upload) is met.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Frames.h"
#include "SimCommandLine.h"
#include "SimReceiver.h"

using tarven::sim::Direction;
using tarven::sim::FrameKind;
using tarven::sim::FrameRecord;
using tarven::sim::ProgramOptions;
using tarven::sim::SimEvent;
using tarven::sim::SimReceiver;

namespace {

// How often the main thread looks at the simulator's records and for signals.
constexpr long kPollNs = 50L * 1000 * 1000;

std::string Describe(const FrameRecord& f) {
    const char* arrow = f.direction == Direction::FromProgram ? "<-" : "->";
    std::string text = std::string(arrow) + " ";
    switch (f.kind) {
        case FrameKind::Command: text += "command " + std::to_string(f.code); break;
        case FrameKind::Data: text += "data " + std::to_string(f.payload.size()) + " bytes"; break;
        case FrameKind::BadCrc: text += "data " + std::to_string(f.payload.size()) + " bytes, bad CRC"; break;
        case FrameKind::BadMagic: text += "12 bytes, bad magic"; break;
        case FrameKind::Raw: text += "raw " + std::to_string(f.payload.size()) + " bytes"; break;
    }
    if (f.truncated) text += " (truncated)";
    if (f.corrupted) text += " (corrupted)";
    if (f.dropped) text += " (dropped)";
    if (f.baud) text += " @" + std::to_string(f.baud);
    return text;
}

// ------------------------------------------------ --trace=json
// One object a line; the first line of output stays the bare device path.

std::string JsonText(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (std::uint8_t(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(std::uint8_t(c)));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// Seconds on the monotonic clock, the clock of the program's own trace.
std::string JsonTime(std::chrono::steady_clock::time_point time) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", std::chrono::duration<double>(time.time_since_epoch()).count());
    return text;
}

// What the frame put on the line, in bytes.
std::size_t WireBytes(const FrameRecord& f) {
    switch (f.kind) {
        case FrameKind::Command:
        case FrameKind::BadMagic: return std::size_t(tarven::kFrameHeaderSize);
        case FrameKind::Raw: return f.payload.size();
        case FrameKind::Data:
        case FrameKind::BadCrc: break;
    }
    if (f.truncated) return std::size_t(tarven::kFrameHeaderSize) + (f.payload.size() + tarven::kCrcSize) / 2;
    return f.payload.size() + std::size_t(tarven::kDataFrameOverhead);
}

std::string DescribeJson(const FrameRecord& f) {
    static const char* const kKinds[] = {"command", "data", "bad crc", "bad magic", "raw"};
    std::string text = "{\"t\":" + JsonTime(f.time) + ",\"event\":\"frame\",\"from\":\"" +
                       (f.direction == Direction::FromProgram ? "program" : "receiver") + "\",\"kind\":\"" +
                       kKinds[int(f.kind)] + "\"";
    if (f.kind == FrameKind::Command) text += ",\"code\":" + std::to_string(f.code);
    if (f.kind == FrameKind::Data || f.kind == FrameKind::BadCrc)
        text += ",\"payload\":" + std::to_string(f.payload.size());
    text += ",\"bytes\":" + std::to_string(WireBytes(f)) + ",\"baud\":" + std::to_string(f.baud);
    if (f.dropped) text += ",\"dropped\":true";
    if (f.corrupted) text += ",\"corrupted\":true";
    if (f.truncated) text += ",\"truncated\":true";
    return text + "}";
}

std::string EventJson(const SimEvent& e) {
    static const char* const kNames[] = {"version answered", "upload started",    "upload complete",
                                         "upload aborted",   "read-back started", "read-back finished",
                                         "speed change",     "anomaly",           "vanished"};
    return "{\"t\":" + JsonTime(e.time) + ",\"event\":\"" + kNames[int(e.type)] + "\",\"text\":" + JsonText(e.text) +
           "}";
}

// A status line of the program itself (not of the simulator).
std::string StatusJson(const std::string& event, const std::string& path) {
    return "{\"t\":" + JsonTime(std::chrono::steady_clock::now()) + ",\"event\":\"" + event +
           "\",\"path\":" + JsonText(path) + "}";
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(file);
}

bool MakeLink(const std::string& link, const std::string& device) {
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            std::cerr << "tarven-receiver-sim: " << link << " exists and is not a symbolic link\n";
            return false;
        }
        ::unlink(link.c_str());
    }
    if (::symlink(device.c_str(), link.c_str()) != 0) {
        std::cerr << "tarven-receiver-sim: cannot create " << link << ": " << std::strerror(errno) << "\n";
        return false;
    }
    return true;
}

// Prints what the simulator did, one poll at a time, and tells when to stop.
class Reporter {
public:
    Reporter(SimReceiver& sim, const ProgramOptions& settings) : sim_(sim), settings_(settings) {}

    // False once the program should stop.
    bool Poll() {
        if (settings_.trace) PrintFrames();
        const auto events = sim_.Events();
        for (; reported_ < events.size(); ++reported_) Report(events[reported_]);
        return !done_;
    }
    int Status() const { return status_; }

private:
    void PrintFrames() {
        const auto frames = sim_.Frames();
        // A frame to the program is printed once it went out (or was dropped).
        while (traced_ < frames.size() && (frames[traced_].direction == Direction::FromProgram ||
                                           frames[traced_].sent || frames[traced_].dropped)) {
            std::cout << (settings_.traceJson ? DescribeJson(frames[traced_]) : Describe(frames[traced_])) << "\n";
            ++traced_;
        }
        std::cout.flush();
    }

    void Report(const SimEvent& e) {
        if (e.type == SimEvent::Type::Anomaly && !settings_.trace) return;
        std::cout << (settings_.traceJson ? EventJson(e) : e.text) << std::endl;
        if (e.type == SimEvent::Type::UploadComplete) {
            const auto uploads = sim_.Uploads();
            if (!settings_.uploadOutput.empty() && !uploads.empty()) {
                const bool written = WriteFile(settings_.uploadOutput, uploads.back().image);
                const std::string& path = settings_.uploadOutput;
                if (settings_.traceJson) std::cout << StatusJson(written ? "image written" : "cannot write", path);
                else std::cout << (written ? "image written to " : "cannot write ") << path;
                std::cout << std::endl;
                if (!written) status_ = 1;
            }
            if (settings_.exitAfterUpload) done_ = true;
        }
        if (e.type == SimEvent::Type::Vanished) done_ = true;
    }

    SimReceiver& sim_;
    const ProgramOptions& settings_;
    std::size_t traced_ = 0;
    std::size_t reported_ = 0;
    bool done_ = false;
    int status_ = 0;
};

// Serves until a signal or the exit condition; returns the exit status.
int Serve(SimReceiver& sim, const ProgramOptions& settings, const sigset_t& signals) {
    Reporter reporter(sim, settings);
    const auto started = std::chrono::steady_clock::now();
    bool pushed = settings.pushReadBackAfterMs < 0;
    for (;;) {
        timespec slice{0, kPollNs};
        if (sigtimedwait(&signals, nullptr, &slice) > 0) break;
        if (!pushed &&
            std::chrono::steady_clock::now() - started >= std::chrono::milliseconds(settings.pushReadBackAfterMs)) {
            pushed = true;
            sim.StartReadBack();
        }
        if (!reporter.Poll()) break;
    }
    return reporter.Status();
}

}  // namespace

int main(int argc, char** argv) {
    ProgramOptions settings;
    switch (tarven::sim::ParseCommandLine(argc, argv, settings, std::cerr)) {
        case tarven::sim::ParseResult::Error: return 2;
        case tarven::sim::ParseResult::Help: std::cout << tarven::sim::Usage(); return 0;
        case tarven::sim::ParseResult::Run: break;
    }

    // Signals are taken synchronously below; blocking them first keeps the
    // simulator's own thread from ever receiving one.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::unique_ptr<SimReceiver> sim;
    try {
        sim = std::make_unique<SimReceiver>(settings.options);
    } catch (const std::exception& e) {
        std::cerr << "tarven-receiver-sim: cannot create a pseudo-terminal: " << e.what() << "\n";
        return 1;
    }
    if (!settings.readBackImage.empty() && !sim->LoadReadBackImage(settings.readBackImage)) {
        std::cerr << "tarven-receiver-sim: cannot read " << settings.readBackImage << "\n";
        return 1;
    }
    if (!settings.link.empty() && !MakeLink(settings.link, sim->DevicePath())) return 1;

    std::cout << sim->DevicePath() << std::endl;
    const int status = Serve(*sim, settings, signals);
    // Let the last answer reach the program before the device goes away: a
    // hang-up discards what the program has not read yet.
    sim->WaitUntilDelivered(std::chrono::seconds(3));
    sim.reset();
    if (!settings.link.empty()) ::unlink(settings.link.c_str());
    return status;
}
