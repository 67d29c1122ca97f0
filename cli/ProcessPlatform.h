// What tarven-link needs from the operating system besides the port: the
// interrupt keys, whether a stream is a terminal, its own program file, and
// whether a device is still there. ProcessUnix.cpp or ProcessWin.cpp, chosen in CMake.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tarven::cli {

// Ctrl-C and the requests to end (SIGTERM and SIGHUP; on Windows the console's
// Ctrl-Break and close) end the run in an orderly way through RequestInterrupt().
void InstallInterruptHandlers();

bool StreamIsTerminal(std::FILE* stream);

// Whether the terminal `stream` writes to erases a line on ESC[K. A Windows
// console does once switched to VT processing, which this does where it can.
bool TerminalTakesEscapes(std::FILE* stream);

// Windows: the console was made for this process alone and shows what it
// writes (a double-click in Explorer), so it would vanish as the program
// ends; WaitForKey then keeps it until the technician has read it.
bool ConsoleIsOwn();
void WaitForKey();

// The arguments after the program's name, in UTF-8. Windows hands a program
// its command line wide; the narrow argv would carry it in the ANSI code
// page, which cannot hold every file name.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// What the program prints (file names among it) is UTF-8: a Windows console
// is told so for as long as the program runs.
void UseUtf8Output();

// The program file itself, for the batch's children; argv0 when it cannot be found.
std::string OwnProgramPath(const char* argv0);

}  // namespace tarven::cli
