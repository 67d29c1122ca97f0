// The verbs of tarven-link. Each returns the process's exit status.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "CliOptions.h"

namespace tarven::cli {

enum ExitStatus : int {
    kExitOk = 0,
    kExitRunFailed = 1,
    kExitUsage = 2,
    kExitPortUnavailable = 3,
    kExitNoVersion = 4,
    kExitUnconfirmed = 5,     // finished, but the receiver's copy is unconfirmed
    kExitVerifyMismatch = 6,  // --verify: the receiver's copy differs from the file
    kExitInterrupted = 130,
};

struct Console {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    bool errIsTerminal = false;  // draw a bar instead of plain progress lines
    bool stdinIsTerminal = false;  // someone can confirm the step between two fullx files
};

// "COM1 (/dev/ttyUSB0)", after any --device override; "COM3 (no device)".
std::string PortLabel(int portIndex);

// Puts the --device of each target in place of its COM mapping.
void ApplyDeviceOverrides(const Options& options);

int RunPortsCommand(const Options& options, Console& console);
int RunVersionCommand(const Options& options, Console& console);
// One receiver; several are handled by RunBatchUpload (Batch.h).
int RunUploadCommand(const Options& options, Console& console);
int RunReadBackCommand(const Options& options, Console& console);

// Checks the files of an upload against the kind before the line is touched.
// Empty when they are fine, else the reason.
std::string CheckUploadFiles(ImageKind kind, const std::vector<std::string>& files);

// The two texts of a 100-byte version block: from byte 32 (hardware) and
// byte 64 (software), each up to its first zero byte or the block's end, safe
// to print: bytes outside printable ASCII read \xHH, a backslash reads \\.
struct VersionTexts {
    std::string hardware;
    std::string software;
};
VersionTexts VersionTextsFromBlock(const std::array<std::uint8_t, kVersionBlockSize>& block);

}  // namespace tarven::cli
