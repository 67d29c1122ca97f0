#include "ReadBackOutput.h"

#include <system_error>

#include "Commands.h"
#include "ReadBackSink.h"

namespace tarven::cli {
namespace {

namespace fs = std::filesystem;

// Names are UTF-8 on every platform; on Windows a narrow path would be read
// in the ANSI code page.
fs::path PathOf(const std::string& name) { return fs::path(std::u8string(name.begin(), name.end())); }

}  // namespace

std::optional<ReadBackOutput::Stamp> ReadBackOutput::StampOf(const std::string& name) {
    std::error_code ec;
    const fs::path path = PathOf(name);
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec) return std::nullopt;
    const fs::file_time_type written = fs::last_write_time(path, ec);
    if (ec) return std::nullopt;
    return Stamp{size, written};
}

bool ReadBackOutput::Prepare(const std::string& path, bool force) {
    name_ = path;
    auto refuse = [&](int status, std::string why) {
        refusalStatus_ = status;
        refusal_ = std::move(why);
        return false;
    };
    std::error_code ec;
    existed_ = fs::exists(fs::symlink_status(PathOf(path), ec));
    partialBefore_ = StampOf(ReadBackSink::PartialName(path));
    if (!existed_) return true;
    const fs::file_status target = fs::status(PathOf(path), ec);
    // A pipe, a terminal or a device could block the worker's writes for good.
    if (fs::exists(target) && !fs::is_regular_file(target))
        return refuse(kExitUsage, path + " is not a regular file; a read-back writes an image file");
    if (!force)
        return refuse(kExitUsage,
                      path + " already exists; use --force to replace it or --output to choose another name");
    return true;
}

std::string ReadBackOutput::Abandon() const {
    // The sink keeps what arrived as "<name>.partial"; one there before the run
    // and untouched since is an earlier run's.
    const std::string partial = ReadBackSink::PartialName(name_);
    const std::optional<Stamp> now = StampOf(partial);
    const bool kept = now && now != partialBefore_;
    if (existed_)
        return name_ + (kept ? " is unchanged; what arrived is kept in " + partial : " is unchanged (nothing arrived)");
    return kept ? "what arrived is kept in " + partial : "nothing arrived";
}

}  // namespace tarven::cli
