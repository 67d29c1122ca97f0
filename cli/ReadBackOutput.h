// What tarven-link adds to the read-back sink (ReadBackSink.h), which receives
// beside the file and replaces it only with a whole image: a file already
// there is replaced only with --force, something that is no regular file
// never, and the words for what became of the bytes of a run that brought no
// whole image.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace tarven::cli {

class ReadBackOutput {
public:
    // Settles `path` before the line is touched. False when the read-back must
    // not start; then Refusal() says why and RefusalStatus() gives the exit status.
    bool Prepare(const std::string& path, bool force);
    const std::string& Refusal() const { return refusal_; }
    int RefusalStatus() const { return refusalStatus_; }

    // The name the technician asked for, which the engine is given.
    const std::string& Name() const { return name_; }

    // After any end but a whole image: what became of the bytes that arrived,
    // for the failure message ("X is unchanged; what arrived is kept in
    // X.partial", "... (nothing arrived)").
    std::string Abandon() const;

private:
    // Enough of a file to tell a new one from one left by an earlier run.
    struct Stamp {
        std::uintmax_t size = 0;
        std::filesystem::file_time_type written;
        bool operator==(const Stamp&) const = default;
    };
    static std::optional<Stamp> StampOf(const std::string& name);

    std::string name_;
    std::string refusal_;
    int refusalStatus_ = 0;
    bool existed_ = false;
    std::optional<Stamp> partialBefore_;
};

}  // namespace tarven::cli
