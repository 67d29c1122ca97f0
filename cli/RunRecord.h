// What one receiver run leaves for scripts and for the factory's records:
// the object --json prints and --report appends as one line, and the frame
// around a verb that fills it in.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "CliOptions.h"
#include "LinkConstants.h"
#include "Sha256.h"

namespace tarven::cli {

struct Console;

struct FileRecord {
    std::string name;
    std::optional<FileDigest> digest;  // nothing when the file could not be read
};

struct RunRecord {
    std::string command;  // "version", "upload", "readback"
    std::string port;     // "COM2"
    std::string device;   // empty when the port has none
    std::string adapterSerial;
    std::optional<ImageKind> kind;
    std::vector<FileRecord> files;
    // The receiver's own texts, bytes as they came: version, or upload --read-versions.
    std::optional<std::string> hardware, software;
    int exitStatus = -1;
    std::string reason;  // what went wrong, in words; empty on success
    std::string doubt;   // DoubtWord of an upload the engine doubts; empty when none
    std::string verify;  // --verify: "identical", "different" or "not done"; empty without
    double seconds = 0;
};

// The exit status as one word: "ok", "failed", "refused", "port unavailable",
// "no version", "unconfirmed", "different", "interrupted".
const char* ResultWord(int exitStatus);
// "ack_after_repeat", ...; empty for UploadDoubt::None.
const char* DoubtWord(UploadDoubt doubt);
// The serial number in an adapter description ("..., serial A10K3ZQ1, ...");
// empty when it names none.
std::string AdapterSerial(const std::string& description);

// The run as one JSON object, without a newline. Every record carries time,
// host, tool_version, command, port, device, adapter_serial, hardware,
// software, result, exit_status, reason and seconds; uploads and read-backs
// also kind, kind_id, files, doubt and verify.
std::string RecordJson(const RunRecord& record);

// The record's port, device and adapter serial for `target`, whose device is `device`.
void RecordTarget(RunRecord& record, const Target& target, const std::string& device);
// The files of an upload, each read whole for its digest.
void RecordFiles(RunRecord& record, const std::vector<std::string>& files);

// Runs `body` as one receiver run: opens --report before anything else (exit
// 2 when it cannot be), hands `record` to the body through the console, and
// once it ends appends the line, prints the object for --json and hands it
// to a batch parent. Returns the body's exit status, which a report that
// cannot be written afterwards does not change (that is said on stderr).
int RunRecorded(const Options& options, Console& console, RunRecord& record, const std::function<int()>& body);

}  // namespace tarven::cli
