// The verbs of tarven-link. Each returns the process's exit status.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "CliOptions.h"
#include "LinkRun.h"
#include "PortMap.h"

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

struct RunRecord;

struct Console {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    bool errIsTerminal = false;    // draw a bar instead of plain progress lines
    bool stdinIsTerminal = false;  // someone can confirm the step between two fullx files
    // The run being recorded (RunRecord.h), set while a verb runs inside RunRecorded.
    RunRecord* record = nullptr;
};

// The machine's ports, with the --device of each target in place of its COM
// mapping.
PortMap TargetPorts(const Options& options);

// "COM1 (/dev/ttyUSB0)"; "COM3 (no device)" when `device` is empty.
std::string PortLabel(const Target& target, const std::string& device);

// A run of `mode` on `portIndex` as the command line asks for it: its time-out
// (for a transfer one that restarts with every progress message) and its trace.
RunSetup SetupFor(const Options& options, LinkMode mode, int portIndex, const std::string& fileName = {},
                  ImageKind kind = ImageKind::FullImage, AccessLevel level = AccessLevel::Standard);

// `ports` are main's TargetPorts.
int RunPortsCommand(const Options& options, const PortMap& ports, Console& console);
int RunVersionCommand(const Options& options, const PortMap& ports, Console& console);
// One receiver; several are handled by RunBatchUpload (Batch.h).
int RunUploadCommand(const Options& options, const PortMap& ports, Console& console);
int RunReadBackCommand(const Options& options, const PortMap& ports, Console& console);

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
