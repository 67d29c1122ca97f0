// tarven-receiver-sim's command line, parsed into plain options.
// Thread ownership: none; parsed on the main thread before the simulator starts.
#pragma once

#include <iosfwd>
#include <string>

#include "SimOptions.h"

namespace tarven::sim {

// Everything the command line sets: the simulator's own options and what the
// program around it does.
struct ProgramOptions {
    SimOptions options;
    std::string link;           // a symbolic link to the device, removed at exit
    std::string uploadOutput;   // each completed image is written here
    std::string readBackImage;  // the image served by read-backs
    bool exitAfterUpload = false;
    bool trace = false;      // print every frame in both directions
    bool traceJson = false;  // ... as one JSON object a line, events included
    int pushReadBackAfterMs = -1;
};

enum class ParseResult { Run, Help, Error };

// Fills `out` from the arguments; on a bad option, says why on `err`.
ParseResult ParseCommandLine(int argc, char** argv, ProgramOptions& out, std::ostream& err);

// The text of --help.
const char* Usage();

}  // namespace tarven::sim
