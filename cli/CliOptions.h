// The command line of tarven-link: global options, one verb, the verb's options.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "LinkConstants.h"

namespace tarven::cli {

enum class Verb { None, Help, Ports, Version, Upload, ReadBack };

// One receiver to talk to: a COM name, and the device that stands in for its
// mapping when --device was given.
struct Target {
    int portIndex = 0;
    std::string device;  // empty: the normal COM mapping
    // A system port beyond COM1..COM6 ("COM7", Windows): its own name, with
    // its device in `device` and portIndex 0; empty for COM1..COM6.
    std::string name{};
};

struct Options {
    Verb verb = Verb::None;
    std::vector<Target> targets;  // at least one after a successful parse
    std::optional<double> timeoutSeconds;
    bool trace = false;
    bool traceJson = false;  // --trace=json: the trace as JSON lines, with progress and the outcome
    // Set on the children of a batch upload: progress and the outcome go to
    // stderr as lines the parent reads, instead of a bar.
    bool reportProgress = false;
    bool json = false;   // --json: one JSON object (a batch: an array) on stdout instead of the text
    std::string report;  // --report FILE: a JSON line per receiver run appended to FILE

    std::optional<ImageKind> kind;
    std::optional<std::string> password;
    std::string output;
    bool force = false;
    bool verify = false;        // upload: read the image back and compare
    bool readVersions = false;  // upload: a version read on the same port first
    std::vector<std::string> files;
};

struct ParseResult {
    Options options;
    std::string error;  // empty when the command line is usable
};

// Parses everything after the program name. Options may stand before or after
// the verb; "--" ends them. --device applies to the --port before it, or to a
// new COM1 target when that one already has a device.
ParseResult ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText();

// --timeout, or the time-out the verb uses when none was given.
double EffectiveTimeoutSeconds(const Options& options);
// --timeout, or the version query's own: upload --read-versions asks as `version` would.
double VersionTimeoutSeconds(const Options& options);

// The arguments of one batch child: this command line narrowed to one target.
std::vector<std::string> ChildArguments(const Options& options, const Target& target);

}  // namespace tarven::cli
