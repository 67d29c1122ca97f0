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
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

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

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(file);
}

bool MakeLink(const std::string& link, const std::string& device) {
    struct stat st{};
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
            std::cout << Describe(frames[traced_]) << "\n";
            ++traced_;
        }
        std::cout.flush();
    }

    void Report(const SimEvent& e) {
        if (e.type == SimEvent::Type::Anomaly && !settings_.trace) return;
        std::cout << e.text << std::endl;
        if (e.type == SimEvent::Type::UploadComplete) {
            const auto uploads = sim_.Uploads();
            if (!settings_.uploadOutput.empty() && !uploads.empty()) {
                if (WriteFile(settings_.uploadOutput, uploads.back().image)) {
                    std::cout << "image written to " << settings_.uploadOutput << std::endl;
                } else {
                    std::cout << "cannot write " << settings_.uploadOutput << std::endl;
                    status_ = 1;
                }
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
        if (!pushed && std::chrono::steady_clock::now() - started >=
                           std::chrono::milliseconds(settings.pushReadBackAfterMs)) {
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
