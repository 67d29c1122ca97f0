// tarven-receiver-sim: a simulated receiver on a pseudo-terminal.
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
#include <deque>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Frames.h"
#include "SimReceiver.h"

using tarven::sim::Direction;
using tarven::sim::FrameKind;
using tarven::sim::FrameRecord;
using tarven::sim::SimEvent;
using tarven::sim::SimOptions;
using tarven::sim::SimReceiver;

namespace {

const char* const kUsage = R"(Usage: tarven-receiver-sim [options]

Plays the receiver's side of the serial link on a pseudo-terminal. Prints the
device to open as its first line (point the updater at it, for example with
TARVEN_COM1=<device>), then one status line per event.

General
  --link PATH              also create a symbolic link PATH to the device (removed at exit)
  --trace                  print every frame in both directions
  --help                   this text

Version query
  --hardware TEXT          hardware version text (byte 32 of the block)
  --software TEXT          software version text (byte 64 of the block)
  --split K                send the 100-byte block over K data frames
  --end-code 17|23         end code after the version data (default 17)
  --version-end-only       send the end code with no data
  --silent-requests N      ignore the first N version requests
  --standby-first          answer the first request with 4 (busy) only
  --standby-answer-after MS  after that 4, answer unprompted after MS ms
                           (default: wait for the next request)

Upload
  --upload-output FILE     write each completed image to FILE
  --exit-after-upload      exit once one upload has completed
  --silent-preambles N     leave the first N preambles (18) unanswered
  --speed-change-at N      answer block N with 64 (ask for 57,600 baud)
  --repeat-at N            answer block N with 1 (repeat)
  --abort-at N             answer block N with 2 (abort)
  --corrupt-reply-at N     send the acknowledgement of block N with a broken magic
  --drop-reply-at N        never send the acknowledgement of block N
  --done-at-end            answer the end code with 37 instead of 0
  --ignore-end-codes N     leave the first N end codes unanswered
  --silent-after-end       never answer the end code
  --slow-ack-at N          take block N, then send nothing for ... (a flash erase)
  --slow-ack-seconds S     ... S seconds; what came meanwhile is answered afterwards

Read-back
  --readback-image FILE    image to serve (default: a 20,000-byte pattern)
  --readback-upload        serve the image the last upload left, as received
  --readback-end-code 19|35  end code after the data (default 19)
  --first-payload N        bytes in the first payload, header included (default 4100; 4: header only)
  --slice N                bytes in every later payload (default 4096)
  --short-frame-at N       send block N truncated ...
  --short-frames K         ... K times (default 1 once --short-frame-at is given)
  --corrupt-crc-at N       send block N once with a wrong CRC
  --repeat-after N         answer the acknowledgement of block N with 1, once
  --omit-last-byte         announce the full length, send one byte less
  --announce N             announce N bytes whatever the image's length
  --readback-silent-requests N  ignore the first N read-back requests
  --readback-standby-first answer the first read-back request with 4
  --readback-resend-after MS  resend the last frame after MS ms without an answer
                           (default 3000, 0: never)
  --push-readback-after MS start a read-back unprompted MS ms after starting

Line
  --paced                  send and take bytes at the line speed the program set
  --seed N                 seed of the random faults (the same seed replays them)
  --corrupt-in RATE        flip a bit in this fraction of the bytes received
  --corrupt-out RATE       flip a bit in this fraction of the bytes sent
  --drop-replies RATE      never send this fraction of the replies
  --duplicate-replies RATE send this fraction of the replies twice
  --garbage RATE           precede this fraction of the replies with random bytes
  --pause-after N          from the N-th received frame on, hold output ...
  --pause-seconds S        ... for S seconds
  --silent-after N         from the N-th received frame on, ignore the line ...
  --silent-seconds S       ... for S seconds
  --vanish-after N         the device disappears at the N-th received frame
)";

sigset_t g_signals;

struct Settings {
    SimOptions options;
    std::string link;
    std::string uploadOutput;
    std::string readBackImage;
    bool exitAfterUpload = false;
    bool trace = false;
    int pushReadBackAfterMs = -1;
    double pauseSeconds = 0, silentSeconds = 0, slowAckSeconds = 0;
};

// Parses the command line; false (with a message) on a bad option.
bool Parse(int argc, char** argv, Settings& s, bool& help) {
    auto& o = s.options;
    using Value = std::function<bool(const std::string&)>;
    auto integer = [](int& target) -> Value {
        return [&target](const std::string& v) {
            try {
                std::size_t used = 0;
                target = std::stoi(v, &used);
                return used == v.size();
            } catch (...) {
                return false;
            }
        };
    };
    auto real = [](double& target) -> Value {
        return [&target](const std::string& v) {
            try {
                std::size_t used = 0;
                target = std::stod(v, &used);
                return used == v.size() && target >= 0;
            } catch (...) {
                return false;
            }
        };
    };
    auto text = [](std::string& target) -> Value {
        return [&target](const std::string& v) {
            target = v;
            return true;
        };
    };
    auto code = [](std::uint16_t& target, std::initializer_list<int> allowed) -> Value {
        return [&target, allowed](const std::string& v) {
            for (int a : allowed)
                if (v == std::to_string(a)) {
                    target = std::uint16_t(a);
                    return true;
                }
            return false;
        };
    };
    auto flag = [](bool& target) { return [&target] { target = true; }; };

    int shortFrames = -1;
    int announce = -1;
    long long seed = -1;
    std::map<std::string, Value> valued = {
        {"--link", text(s.link)},
        {"--hardware", text(o.version.hardware)},
        {"--software", text(o.version.software)},
        {"--split", integer(o.version.split)},
        {"--end-code", code(o.version.endCode, {17, 23})},
        {"--silent-requests", integer(o.version.silentRequests)},
        {"--standby-answer-after", integer(o.version.standbyAnswerAfterMs)},
        {"--upload-output", text(s.uploadOutput)},
        {"--silent-preambles", integer(o.upload.silentPreambles)},
        {"--speed-change-at", integer(o.upload.speedChangeAtBlock)},
        {"--repeat-at", integer(o.upload.repeatAtBlock)},
        {"--abort-at", integer(o.upload.abortAtBlock)},
        {"--corrupt-reply-at", integer(o.upload.corruptReplyAtBlock)},
        {"--drop-reply-at", integer(o.upload.dropReplyAtBlock)},
        {"--ignore-end-codes", integer(o.upload.ignoreEndCodes)},
        {"--slow-ack-at", integer(o.upload.slowAckAtBlock)},
        {"--slow-ack-seconds", real(s.slowAckSeconds)},
        {"--readback-image", text(s.readBackImage)},
        {"--readback-end-code", code(o.readBack.endCode, {19, 35})},
        {"--first-payload", integer(o.readBack.firstPayloadSize)},
        {"--slice", integer(o.readBack.sliceSize)},
        {"--short-frame-at", integer(o.readBack.shortFrameAtBlock)},
        {"--short-frames", integer(shortFrames)},
        {"--corrupt-crc-at", integer(o.readBack.corruptCrcAtBlock)},
        {"--repeat-after", integer(o.readBack.repeatAfterBlock)},
        {"--announce", integer(announce)},
        {"--readback-silent-requests", integer(o.readBack.silentRequests)},
        {"--readback-resend-after", integer(o.readBack.resendAfterMs)},
        {"--push-readback-after", integer(s.pushReadBackAfterMs)},
        {"--seed", [&seed](const std::string& v) {
             try {
                 std::size_t used = 0;
                 seed = std::stoll(v, &used);
                 return used == v.size() && seed >= 0;
             } catch (...) {
                 return false;
             }
         }},
        {"--corrupt-in", real(o.line.corruptInRate)},
        {"--corrupt-out", real(o.line.corruptOutRate)},
        {"--drop-replies", real(o.line.dropReplyRate)},
        {"--duplicate-replies", real(o.line.duplicateReplyRate)},
        {"--garbage", real(o.line.garbageRate)},
        {"--pause-after", integer(o.line.pauseAfterFrames)},
        {"--pause-seconds", real(s.pauseSeconds)},
        {"--silent-after", integer(o.line.silentAfterFrames)},
        {"--silent-seconds", real(s.silentSeconds)},
        {"--vanish-after", integer(o.line.vanishAfterFrames)},
    };
    bool silentAfterEnd = false;
    std::map<std::string, std::function<void()>> flags = {
        {"--trace", flag(s.trace)},
        {"--version-end-only", flag(o.version.endCodeOnly)},
        {"--standby-first", flag(o.version.standbyFirst)},
        {"--exit-after-upload", flag(s.exitAfterUpload)},
        {"--done-at-end", flag(o.upload.answerDoneAtEnd)},
        {"--silent-after-end", flag(silentAfterEnd)},
        {"--omit-last-byte", flag(o.readBack.omitLastByte)},
        {"--readback-standby-first", flag(o.readBack.standbyFirst)},
        {"--paced", flag(o.line.paced)},
        {"--readback-upload", flag(o.readBack.serveLastUpload)},
    };
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            help = true;
            return true;
        }
        std::string value;
        bool inlineValue = false;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            inlineValue = true;
        }
        if (auto f = flags.find(arg); f != flags.end() && !inlineValue) {
            f->second();
            continue;
        }
        auto v = valued.find(arg);
        if (v == valued.end()) {
            std::cerr << "tarven-receiver-sim: unknown option " << argv[i] << " (see --help)\n";
            return false;
        }
        if (!inlineValue) {
            if (i + 1 >= argc) {
                std::cerr << "tarven-receiver-sim: " << arg << " needs a value\n";
                return false;
            }
            value = argv[++i];
        }
        if (!v->second(value)) {
            std::cerr << "tarven-receiver-sim: bad value '" << value << "' for " << arg << "\n";
            return false;
        }
    }
    if (silentAfterEnd) o.upload.ignoreEndCodes = -1;
    if (o.readBack.shortFrameAtBlock > 0) o.readBack.shortFrameCount = shortFrames < 0 ? 1 : shortFrames;
    if (announce >= 0) o.readBack.announcedLength = std::uint32_t(announce);
    if (seed >= 0) o.line.seed = std::uint64_t(seed);
    o.line.pauseMs = int(s.pauseSeconds * 1000);
    o.line.silentMs = int(s.silentSeconds * 1000);
    o.upload.slowAckMs = int(s.slowAckSeconds * 1000);
    return true;
}

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

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    bool help = false;
    if (!Parse(argc, argv, settings, help)) return 2;
    if (help) {
        std::cout << kUsage;
        return 0;
    }

    // Signals are taken synchronously below; blocking them first keeps the
    // simulator's own thread from ever receiving one.
    sigemptyset(&g_signals);
    sigaddset(&g_signals, SIGINT);
    sigaddset(&g_signals, SIGTERM);
    sigaddset(&g_signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &g_signals, nullptr);

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
    if (!settings.link.empty()) {
        struct stat st{};
        if (::lstat(settings.link.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                std::cerr << "tarven-receiver-sim: " << settings.link << " exists and is not a symbolic link\n";
                return 1;
            }
            ::unlink(settings.link.c_str());
        }
        if (::symlink(sim->DevicePath().c_str(), settings.link.c_str()) != 0) {
            std::cerr << "tarven-receiver-sim: cannot create " << settings.link << ": " << std::strerror(errno)
                      << "\n";
            return 1;
        }
    }

    std::cout << sim->DevicePath() << std::endl;

    std::mutex eventsMutex;
    std::deque<SimEvent> events;
    sim->SetEventCallback([&](const SimEvent& e) {
        std::lock_guard lock(eventsMutex);
        events.push_back(e);
    });

    const auto started = std::chrono::steady_clock::now();
    bool pushed = settings.pushReadBackAfterMs < 0;
    std::size_t traced = 0;
    bool done = false;
    int status = 0;
    while (!done) {
        timespec slice{0, 50 * 1000 * 1000};
        const int signal = sigtimedwait(&g_signals, nullptr, &slice);
        if (signal > 0) break;

        if (!pushed && std::chrono::steady_clock::now() - started >=
                           std::chrono::milliseconds(settings.pushReadBackAfterMs)) {
            pushed = true;
            sim->StartReadBack();
        }
        if (settings.trace) {
            const auto frames = sim->Frames();
            // A frame to the program is printed once it went out (or was dropped).
            while (traced < frames.size() &&
                   (frames[traced].direction == Direction::FromProgram || frames[traced].sent ||
                    frames[traced].dropped)) {
                std::cout << Describe(frames[traced]) << "\n";
                ++traced;
            }
            std::cout.flush();
        }

        std::deque<SimEvent> batch;
        {
            std::lock_guard lock(eventsMutex);
            batch.swap(events);
        }
        for (const SimEvent& e : batch) {
            if (e.type == SimEvent::Type::Anomaly && !settings.trace) continue;
            std::cout << e.text << std::endl;
            if (e.type == SimEvent::Type::UploadComplete) {
                const auto uploads = sim->Uploads();
                if (!settings.uploadOutput.empty() && !uploads.empty()) {
                    if (WriteFile(settings.uploadOutput, uploads.back().image))
                        std::cout << "image written to " << settings.uploadOutput << std::endl;
                    else {
                        std::cout << "cannot write " << settings.uploadOutput << std::endl;
                        status = 1;
                    }
                }
                if (settings.exitAfterUpload) done = true;
            }
            if (e.type == SimEvent::Type::Vanished) done = true;
        }
    }
    // Let the last answer reach the program before the device goes away: a
    // hang-up discards what the program has not read yet.
    sim->WaitUntilDelivered(std::chrono::seconds(3));
    sim.reset();
    if (!settings.link.empty()) ::unlink(settings.link.c_str());
    return status;
}
