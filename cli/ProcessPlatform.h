// What tarven-link needs from the operating system besides the port: the
// interrupt keys, whether a stream is a terminal, its own program file, and
// whether a device is still there. ProcessUnix.cpp or ProcessWin.cpp, chosen in CMake.
#pragma once

#include <cstdio>
#include <string>

namespace tarven::cli {

// Ctrl-C and the requests to end (SIGTERM and SIGHUP; on Windows the console's
// Ctrl-Break and close) end the run in an orderly way through RequestInterrupt().
void InstallInterruptHandlers();

bool StreamIsTerminal(std::FILE* stream);

// The program file itself, for the batch's children; argv0 when it cannot be found.
std::string OwnProgramPath(const char* argv0);

}  // namespace tarven::cli
