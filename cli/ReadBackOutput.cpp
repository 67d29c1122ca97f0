#include "ReadBackOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "Commands.h"
#include "ProcessPlatform.h"

namespace tarven::cli {
namespace {

// Hidden, and without ".bi" in it, so that a copy left by a killed run never
// shows in the window's image list.
constexpr char kTemporaryPattern[] = ".tarven-readback-XXXXXX";
constexpr char kPartialSuffix[] = ".partial";

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Resolved(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return path;
    std::string text = real;
    std::free(real);
    return text;
}

}  // namespace

bool ReadBackOutput::Prepare(const std::string& path, bool force) {
    name_ = final_ = receiving_ = path;
    auto refuse = [&](int status, std::string why) {
        refusalStatus_ = status;
        refusal_ = std::move(why);
        return false;
    };
    struct stat entry {};
    if (::lstat(path.c_str(), &entry) != 0) return true;  // a new file: written in place
    struct stat st {};
    const bool resolves = ::stat(path.c_str(), &st) == 0;
    // A pipe, a terminal or a device could block the worker's writes for good.
    if (resolves && !S_ISREG(st.st_mode))
        return refuse(kExitUsage, path + " is not a regular file; a read-back writes an image file");
    if (!force)
        return refuse(kExitUsage, path + " already exists; use --force to replace it or --output to choose another name");
    if (!resolves) return true;  // a dangling symbolic link: the file is created where it points

    // Through a symbolic link the file it points to is the one replaced.
    final_ = Resolved(path);
    std::string temporary = FolderOf(final_) + "/" + kTemporaryPattern;
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return refuse(kExitRunFailed, "cannot create a file beside " + path + ": " + std::strerror(errno));
    // The replacement keeps the permissions of the file it replaces.
    (void)::fchmod(fd, st.st_mode & 07777);
    ::close(fd);
    receiving_ = temporary;
    temporary_ = true;
    return true;
}

std::string ReadBackOutput::Commit() {
    if (!temporary_) return {};
    temporary_ = false;
    if (MoveIntoPlace(receiving_, final_)) return {};
    return "cannot replace " + name_ + ": " + std::strerror(errno) + "; the image is in " + receiving_;
}

std::string ReadBackOutput::Abandon() {
    if (!temporary_) return "the file keeps what arrived";
    temporary_ = false;
    struct stat st {};
    if (::stat(receiving_.c_str(), &st) == 0 && st.st_size == 0) {
        ::unlink(receiving_.c_str());
        return name_ + " is unchanged (nothing arrived)";
    }
    const std::string partial = name_ + kPartialSuffix;
    const std::string kept = MoveIntoPlace(receiving_, partial) ? partial : receiving_;
    return name_ + " is unchanged; what arrived is kept in " + kept;
}

ReadBackOutput::~ReadBackOutput() {
    if (temporary_) ::unlink(receiving_.c_str());
}

}  // namespace tarven::cli
