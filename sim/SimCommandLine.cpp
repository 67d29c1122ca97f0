// Thread ownership: none; parsed on the main thread before the simulator starts.
#include "SimCommandLine.h"

#include <functional>
#include <map>
#include <ostream>

namespace tarven::sim {

namespace {

const char* const kUsage = R"(Usage: tarven-receiver-sim [options]

Plays the receiver's side of the serial link on a pseudo-terminal. Prints the
device to open as its first line (point the updater at it, for example with
TARVEN_COM1=<device>), then one status line per event.

General
  --link PATH              also create a symbolic link PATH to the device (removed at exit)
  --trace                  print every frame in both directions
  --trace=json             the same, and every status line, as one JSON object a line
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
  --adapter-latency MS     bytes to the program pass a USB adapter: 62-byte
                           packets, a short one held for its MS ms latency timer
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

// What the command line gives in other units or shapes than the options keep.
struct Extras {
    int shortFrames = -1;
    int announce = -1;
    long long seed = -1;
    bool silentAfterEnd = false;
    double pauseSeconds = 0, silentSeconds = 0, slowAckSeconds = 0;
};

using Value = std::function<bool(const std::string&)>;
using Flag = std::function<void()>;

Value Integer(int& target) {
    return [&target](const std::string& v) {
        try {
            std::size_t used = 0;
            target = std::stoi(v, &used);
            return used == v.size();
        } catch (...) {
            return false;
        }
    };
}

Value Real(double& target) {
    return [&target](const std::string& v) {
        try {
            std::size_t used = 0;
            target = std::stod(v, &used);
            return used == v.size() && target >= 0;
        } catch (...) {
            return false;
        }
    };
}

Value Text(std::string& target) {
    return [&target](const std::string& v) {
        target = v;
        return true;
    };
}

Value Code(std::uint16_t& target, std::initializer_list<int> allowed) {
    return [&target, allowed](const std::string& v) {
        for (int a : allowed)
            if (v == std::to_string(a)) {
                target = std::uint16_t(a);
                return true;
            }
        return false;
    };
}

Value Seed(long long& target) {
    return [&target](const std::string& v) {
        try {
            std::size_t used = 0;
            target = std::stoll(v, &used);
            return used == v.size() && target >= 0;
        } catch (...) {
            return false;
        }
    };
}

// --trace=json; a plain --trace is a flag.
Value TraceFormat(ProgramOptions& p) {
    return [&p](const std::string& v) {
        p.trace = p.traceJson = v == "json";
        return p.traceJson;
    };
}

Flag Set(bool& target) {
    return [&target] { target = true; };
}

std::map<std::string, Value> ValuedOptions(ProgramOptions& p, Extras& x) {
    auto& o = p.options;
    return {
        {"--link", Text(p.link)},
        {"--trace", TraceFormat(p)},
        {"--hardware", Text(o.version.hardware)},
        {"--software", Text(o.version.software)},
        {"--split", Integer(o.version.split)},
        {"--end-code", Code(o.version.endCode, {17, 23})},
        {"--silent-requests", Integer(o.version.silentRequests)},
        {"--standby-answer-after", Integer(o.version.standbyAnswerAfterMs)},
        {"--upload-output", Text(p.uploadOutput)},
        {"--silent-preambles", Integer(o.upload.silentPreambles)},
        {"--speed-change-at", Integer(o.upload.speedChangeAtBlock)},
        {"--repeat-at", Integer(o.upload.repeatAtBlock)},
        {"--abort-at", Integer(o.upload.abortAtBlock)},
        {"--corrupt-reply-at", Integer(o.upload.corruptReplyAtBlock)},
        {"--drop-reply-at", Integer(o.upload.dropReplyAtBlock)},
        {"--ignore-end-codes", Integer(o.upload.ignoreEndCodes)},
        {"--slow-ack-at", Integer(o.upload.slowAckAtBlock)},
        {"--slow-ack-seconds", Real(x.slowAckSeconds)},
        {"--readback-image", Text(p.readBackImage)},
        {"--readback-end-code", Code(o.readBack.endCode, {19, 35})},
        {"--first-payload", Integer(o.readBack.firstPayloadSize)},
        {"--slice", Integer(o.readBack.sliceSize)},
        {"--short-frame-at", Integer(o.readBack.shortFrameAtBlock)},
        {"--short-frames", Integer(x.shortFrames)},
        {"--corrupt-crc-at", Integer(o.readBack.corruptCrcAtBlock)},
        {"--repeat-after", Integer(o.readBack.repeatAfterBlock)},
        {"--announce", Integer(x.announce)},
        {"--readback-silent-requests", Integer(o.readBack.silentRequests)},
        {"--readback-resend-after", Integer(o.readBack.resendAfterMs)},
        {"--push-readback-after", Integer(p.pushReadBackAfterMs)},
        {"--seed", Seed(x.seed)},
        {"--corrupt-in", Real(o.line.corruptInRate)},
        {"--corrupt-out", Real(o.line.corruptOutRate)},
        {"--drop-replies", Real(o.line.dropReplyRate)},
        {"--duplicate-replies", Real(o.line.duplicateReplyRate)},
        {"--garbage", Real(o.line.garbageRate)},
        {"--pause-after", Integer(o.line.pauseAfterFrames)},
        {"--pause-seconds", Real(x.pauseSeconds)},
        {"--silent-after", Integer(o.line.silentAfterFrames)},
        {"--silent-seconds", Real(x.silentSeconds)},
        {"--vanish-after", Integer(o.line.vanishAfterFrames)},
        {"--adapter-latency", Integer(o.line.adapterLatencyMs)},
    };
}

std::map<std::string, Flag> FlagOptions(ProgramOptions& p, Extras& x) {
    auto& o = p.options;
    return {
        {"--trace", Set(p.trace)},
        {"--version-end-only", Set(o.version.endCodeOnly)},
        {"--standby-first", Set(o.version.standbyFirst)},
        {"--exit-after-upload", Set(p.exitAfterUpload)},
        {"--done-at-end", Set(o.upload.answerDoneAtEnd)},
        {"--silent-after-end", Set(x.silentAfterEnd)},
        {"--omit-last-byte", Set(o.readBack.omitLastByte)},
        {"--readback-standby-first", Set(o.readBack.standbyFirst)},
        {"--paced", Set(o.line.paced)},
        {"--readback-upload", Set(o.readBack.serveLastUpload)},
    };
}

// What the options keep, from what the command line said in its own terms.
void Finish(ProgramOptions& p, const Extras& x) {
    auto& o = p.options;
    if (x.silentAfterEnd) o.upload.ignoreEndCodes = -1;
    if (o.readBack.shortFrameAtBlock > 0) o.readBack.shortFrameCount = x.shortFrames < 0 ? 1 : x.shortFrames;
    if (x.announce >= 0) o.readBack.announcedLength = std::uint32_t(x.announce);
    if (x.seed >= 0) o.line.seed = std::uint64_t(x.seed);
    o.line.pauseMs = int(x.pauseSeconds * 1000);
    o.line.silentMs = int(x.silentSeconds * 1000);
    o.upload.slowAckMs = int(x.slowAckSeconds * 1000);
}

}  // namespace

const char* Usage() { return kUsage; }

ParseResult ParseCommandLine(int argc, char** argv, ProgramOptions& p, std::ostream& err) {
    Extras x;
    const auto valued = ValuedOptions(p, x);
    const auto flags = FlagOptions(p, x);
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") return ParseResult::Help;
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
            err << "tarven-receiver-sim: unknown option " << argv[i] << " (see --help)\n";
            return ParseResult::Error;
        }
        if (!inlineValue) {
            if (i + 1 >= argc) {
                err << "tarven-receiver-sim: " << arg << " needs a value\n";
                return ParseResult::Error;
            }
            value = argv[++i];
        }
        if (!v->second(value)) {
            err << "tarven-receiver-sim: bad value '" << value << "' for " << arg << "\n";
            return ParseResult::Error;
        }
    }
    Finish(p, x);
    return ParseResult::Run;
}

}  // namespace tarven::sim
