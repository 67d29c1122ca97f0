#include "CliOptions.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "KindTable.h"
#include "PortAccess.h"
#include "PortSettings.h"

namespace tarven::cli {
namespace {

// A receiver answers a version request within a few seconds; a transfer may
// legitimately wait minutes for the technician to restart the receiver.
constexpr double kVersionTimeoutSeconds = 30;
constexpr double kTransferTimeoutSeconds = 600;

std::optional<int> PortFromText(const std::string& text) {
    std::string upper = text;
    for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    const int index = PortIndexFromName(upper);
    if (index < 0) return std::nullopt;
    return index;
}

std::optional<double> SecondsFromText(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(value) || value <= 0) return std::nullopt;
    return value;
}

// Enough digits that the child reads back the very same number.
std::string ExactText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::optional<Verb> VerbFromText(const std::string& text) {
    if (text == "ports") return Verb::Ports;
    if (text == "version") return Verb::Version;
    if (text == "upload") return Verb::Upload;
    if (text == "readback") return Verb::ReadBack;
    if (text == "help") return Verb::Help;
    return std::nullopt;
}

// Options that only one verb understands, checked once the verb is known.
std::string CheckVerbOptions(const Options& o) {
    const bool transfer = o.verb == Verb::Upload || o.verb == Verb::ReadBack;
    if (!transfer && (o.kind || o.password)) return "--kind and --password belong to upload and readback";
    if (o.verb != Verb::ReadBack && (!o.output.empty() || o.force)) return "--output and --force belong to readback";
    if (o.verb != Verb::Upload && o.verify) return "--verify belongs to upload";
    if (o.verb != Verb::Upload && o.readVersions) return "--read-versions belongs to upload";
    if (!transfer && !o.report.empty()) return "--report belongs to upload and readback";
    if (o.verb != Verb::Upload && !o.files.empty()) return "unexpected argument '" + o.files.front() + "'";
    if (o.verb != Verb::Upload && o.targets.size() > 1) return "only upload takes several --port/--device options";
    if (transfer && !o.kind) return "--kind is required";
    if (o.verb == Verb::Upload) {
        const int wanted = Rules(*o.kind).filesPerUpload;
        if (int(o.files.size()) != wanted)
            return "kind " + KindNameAndId(*o.kind) + " takes exactly " + (wanted == 1 ? "one file" : "two files");
    }
    return {};
}

// The options that take the next argument as their value.
constexpr std::array<std::string_view, 7> kValueOptions = {"--port",     "--device", "--timeout", "--kind",
                                                           "--password", "--output", "--report"};

// Walks the arguments once; Run() is false when parsing stopped early, at an
// error or at --help.
class ArgumentParser {
public:
    ArgumentParser(const std::vector<std::string>& args, ParseResult& result)
        : args_(args), r_(result), o_(result.options) {}

    bool Run() {
        for (i_ = 0; i_ < args_.size(); ++i_) {
            const std::string& arg = args_[i_];
            const bool positional = endOfOptions_ || arg.empty() || arg[0] != '-' || arg == "-";
            if (!(positional ? Positional(arg) : Option(arg))) return false;
        }
        return true;
    }

private:
    bool Fail(std::string text) {
        r_.error = std::move(text);
        return false;
    }
    bool Positional(const std::string& arg);
    bool Option(const std::string& arg);
    bool ValueOption(const std::string& arg, const std::string& v);

    const std::vector<std::string>& args_;
    ParseResult& r_;
    Options& o_;
    std::size_t i_ = 0;
    bool endOfOptions_ = false;
    // --device after a --port of its own fills that target; otherwise it opens one.
    bool lastTargetHasDevice_ = true;
};

bool ArgumentParser::Positional(const std::string& arg) {
    if (o_.verb != Verb::None) {
        o_.files.push_back(arg);
        return true;
    }
    const auto verb = VerbFromText(arg);
    if (!verb) return Fail("unknown command '" + arg + "'");
    o_.verb = *verb;
    return true;
}

bool ArgumentParser::Option(const std::string& arg) {
    if (arg == "--") {
        endOfOptions_ = true;
    } else if (arg == "--help" || arg == "-h") {
        o_.verb = Verb::Help;
        return false;
    } else if (arg == "--trace" || arg == "--trace=json") {
        o_.trace = true;
        o_.traceJson = arg == "--trace=json";
    } else if (arg == "--report-progress") {
        o_.reportProgress = true;
    } else if (arg == "--force") {
        o_.force = true;
    } else if (arg == "--verify") {
        o_.verify = true;
    } else if (arg == "--json") {
        o_.json = true;
    } else if (arg == "--read-versions") {
        o_.readVersions = true;
    } else if (std::find(kValueOptions.begin(), kValueOptions.end(), arg) != kValueOptions.end()) {
        if (i_ + 1 >= args_.size()) return Fail(arg + " needs a value");
        return ValueOption(arg, args_[++i_]);
    } else {
        return Fail("unknown option '" + arg + "'");
    }
    return true;
}

bool ArgumentParser::ValueOption(const std::string& arg, const std::string& v) {
    if (arg == "--port") {
        const auto index = PortFromText(v);
        if (index) {
            o_.targets.push_back({*index, {}});
        } else {
            std::string upper = v;
            for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
            const std::string device = SystemPortDevice(upper);
            if (device.empty()) return Fail("--port takes COM1 to COM6, not '" + v + "'");
            o_.targets.push_back({0, device, upper});
        }
        lastTargetHasDevice_ = false;
    } else if (arg == "--device") {
        if (v.empty()) return Fail("--device needs a path");
        if (lastTargetHasDevice_) o_.targets.push_back({0, {}});
        o_.targets.back().device = v;
        lastTargetHasDevice_ = true;
    } else if (arg == "--timeout") {
        o_.timeoutSeconds = SecondsFromText(v);
        if (!o_.timeoutSeconds) return Fail("--timeout takes a number of seconds above 0, not '" + v + "'");
    } else if (arg == "--kind") {
        o_.kind = ParseKind(v);
        if (!o_.kind)
            return Fail("unknown kind '" + v + "' (use fdd, ucd, software, full, loader, chip, fullx or 11990..11996)");
    } else if (arg == "--password") {
        o_.password = v;
    } else if (arg == "--output") {
        if (v.empty()) return Fail("--output needs a file name");
        o_.output = v;
    } else if (arg == "--report") {
        if (v.empty()) return Fail("--report needs a file name");
        o_.report = v;
    }
    return true;
}

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
    ParseResult r;
    if (!ArgumentParser(args, r).Run()) return r;
    Options& o = r.options;
    if (o.verb == Verb::None) {
        r.error = "no command given";
        return r;
    }
    if (o.verb == Verb::Help) return r;
    r.error = CheckVerbOptions(o);
    if (o.targets.empty()) o.targets.push_back({0, {}});
    return r;
}

double EffectiveTimeoutSeconds(const Options& options) {
    if (options.timeoutSeconds) return *options.timeoutSeconds;
    return options.verb == Verb::Version ? kVersionTimeoutSeconds : kTransferTimeoutSeconds;
}

double VersionTimeoutSeconds(const Options& options) { return options.timeoutSeconds.value_or(kVersionTimeoutSeconds); }

std::vector<std::string> ChildArguments(const Options& o, const Target& target) {
    std::vector<std::string> args = {"--report-progress", "--port",
                                     target.name.empty() ? PortNames[std::size_t(target.portIndex)] : target.name};
    if (!target.device.empty() && target.name.empty()) {
        args.push_back("--device");
        args.push_back(target.device);
    }
    if (o.timeoutSeconds) {
        args.push_back("--timeout");
        args.push_back(ExactText(*o.timeoutSeconds));
    }
    if (o.trace) args.push_back(o.traceJson ? "--trace=json" : "--trace");
    args.push_back("upload");
    if (o.verify) args.push_back("--verify");
    if (o.readVersions) args.push_back("--read-versions");
    // The children append to the one report themselves, each line in one write.
    if (!o.report.empty()) {
        args.push_back("--report");
        args.push_back(o.report);
    }
    args.push_back("--kind");
    args.push_back(std::to_string(int(*o.kind)));
    if (o.password) {
        args.push_back("--password");
        args.push_back(*o.password);
    }
    args.push_back("--");
    for (const auto& f : o.files) args.push_back(f);
    return args;
}

std::string UsageText() {
    return "Usage: tarven-link [OPTIONS] COMMAND [COMMAND OPTIONS]\n"
           "\n"
           "Commands:\n"
           "  ports                        list COM1..COM6, their devices and whether they can be opened\n"
           "  version                      print the receiver's hardware and software version\n"
           "  upload --kind KIND [--password PASSWORD] [--verify] [--read-versions] FILE [FILE2]\n"
           "                               send an image to the receiver (fullx takes two files);\n"
           "                               several --port/--device options update several receivers at once\n"
           "  readback --kind KIND [--password PASSWORD] [--output FILE] [--force]\n"
           "                               read an image back from the receiver into FILE\n"
           "                               (default Def_Data.bin, UserData.bin or main.bin by kind)\n"
           "  help                         show this text\n"
           "\n"
           "Options:\n"
           "  --port COM<n>      the receiver's port, COM1 (default) to COM6; on Windows any COM port\n"
           "  --device PATH      use this device for the preceding --port (or COM1) instead of its mapping\n"
           "  --timeout SECONDS  version: give up after this long (default 30);\n"
           "                     transfers: give up after this long without progress (default 600)\n"
           "  --trace            show every frame sent and received on stderr\n"
           "  --trace=json       the same, with progress and the outcome, as one JSON object a line\n"
           "  --json             ports, version, upload, readback: one JSON object on stdout instead of\n"
           "                     the text (a batch: an array, a row per receiver); same exit status\n"
           "  --report FILE      upload, readback: append one JSON line per receiver run to FILE\n"
           "                     (opened before anything is sent; a batch's receivers share it)\n"
           "  --force            readback: replace an existing output file, once a whole image has arrived\n"
           "  --verify           upload: read the image back over the same line and compare it with the\n"
           "                     file (kinds fdd to loader; software/full/loader need the level-2 password)\n"
           "  --read-versions    upload: read the receiver's versions on the same port first; no answer:\n"
           "                     exit 4, nothing sent\n"
           "  --help             show this text\n"
           "\n"
           "KIND: fdd (11990), ucd (11991), software (11992), full (11993), loader (11994),\n"
           "      chip (11995), fullx (11996).\n"
           "PASSWORD: a service password; it sets the access level (letter case does not matter).\n"
           "Read-back: fdd and ucd at any level, software/full/loader only at level 2, chip and fullx never.\n"
           "COM names stand for the devices in TARVEN_COM1..TARVEN_COM6 when any is set, otherwise for the\n"
           "serial adapters present (ttyUSB, then ttyACM, then on-board ttyS).\n"
           "\n"
           "Exit status: 0 success; 1 the run failed (receiver aborted, incomplete read-back, file error,\n"
           "time-out without progress, device vanished; in a batch: any receiver failed); 2 bad usage or a\n"
           "file the kind does not accept; 3 the port cannot be opened; 4 no version answer in time;\n"
           "5 upload finished, but the receiver's copy is unconfirmed (the line was disturbed: check it,\n"
           "e.g. with --verify); 6 --verify found the receiver's copy different from the file;\n"
           "130 interrupted.\n";
}

}  // namespace tarven::cli
