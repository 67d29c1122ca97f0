// Where a read-back's bytes go. A new file is written in place; an existing
// one (--force) is replaced only by a whole image: the bytes arrive beside it
// under a temporary name, which is renamed over it on success and kept as
// "<name>.partial" otherwise, so a silent or failing receiver never costs the
// technician the copy already on disk.
#pragma once

#include <string>

namespace tarven::cli {

class ReadBackOutput {
public:
    // Settles `path` before the line is touched. False when the read-back must
    // not start; then Refusal() says why and RefusalStatus() gives the exit status.
    bool Prepare(const std::string& path, bool force);
    const std::string& Refusal() const { return refusal_; }
    int RefusalStatus() const { return refusalStatus_; }

    // The file the engine creates and writes.
    const std::string& ReceivingName() const { return receiving_; }
    // The name the technician asked for.
    const std::string& Name() const { return name_; }

    // After a whole image: moves it into place. Empty on success, else why not.
    std::string Commit();
    // After any other end: what became of the bytes that arrived, for the
    // failure message ("the file keeps what arrived", "... kept in X.partial").
    std::string Abandon();

    ReadBackOutput() = default;
    ReadBackOutput(const ReadBackOutput&) = delete;
    ReadBackOutput& operator=(const ReadBackOutput&) = delete;
    // A temporary file nobody claimed is removed.
    ~ReadBackOutput();

private:
    std::string name_;       // as given
    std::string final_;      // the file replaced: `name_`, or where its symbolic link points
    std::string receiving_;  // `final_`, or the temporary file beside it
    std::string refusal_;
    int refusalStatus_ = 0;
    bool temporary_ = false;
};

}  // namespace tarven::cli
