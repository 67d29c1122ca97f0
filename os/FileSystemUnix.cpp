#include "FileSystemUnix.h"

#include "DriveList.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarven {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// d_type tells most file systems' entries apart without a stat; links and
// file systems that leave it unknown need one (stat follows the link, so a
// link to a folder is a folder, as it is to every program that opens it).
bool IsFolderEntry(const std::string& folder, const dirent* entry) {
    if (entry->d_type == DT_DIR) return true;
    if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK) return false;
    std::string full = folder;
    if (full.empty() || full.back() != '/') full += '/';
    full += entry->d_name;
    struct stat st {};
    return ::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The kernel writes blanks, tabs, newlines and backslashes in a mount point
// as a backslash and three octal digits.
std::string UnescapeMountField(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            const bool octal = std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '7'; });
            if (octal && digits[0] <= '3') {
                out += char(std::stoi(digits, nullptr, 8));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

}  // namespace

FileOpenError OpenErrorFromErrno(int err) {
    switch (err) {
        case 0: return FileOpenError::kNone;
        case ENOENT: return FileOpenError::kNotFound;
        case ENOTDIR:
        case ENAMETOOLONG:
        case EINVAL: return FileOpenError::kInvalidPath;
        case EMFILE:
        case ENFILE: return FileOpenError::kTooManyFiles;
        case EACCES:
        case EPERM:
        case EROFS: return FileOpenError::kAccessDenied;
        case EBUSY:
        case ETXTBSY: return FileOpenError::kSharingViolation;
        case EWOULDBLOCK:
#if EAGAIN != EWOULDBLOCK
        case EAGAIN:
#endif
            return FileOpenError::kLocked;
        default: return FileOpenError::kOther;
    }
}

std::vector<std::string> ParseMountPoints(const std::string& mountTable) {
    std::vector<std::string> points;
    std::istringstream lines(mountTable);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string device, point;
        if (fields >> device >> point) points.push_back(UnescapeMountField(point));
    }
    return points;
}

bool UnixFileSystem::ListFolder(const std::string& folder, const std::function<bool(const FolderEntry&)>& visit) {
    DirHandle dir(::opendir(folder.c_str()));
    if (!dir) return false;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (!visit(FolderEntry{entry->d_name, IsFolderEntry(folder, entry)})) break;
    }
    return true;
}

bool UnixFileSystem::IsSymbolicLink(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool UnixFileSystem::MakeFolder(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

FileOpenError UnixFileSystem::TryOpenFile(const std::string& path, bool readOnly) {
    // O_NONBLOCK keeps a FIFO or a device from stalling the question; for a
    // regular file it changes nothing.
    const int flags = (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0) return OpenErrorFromErrno(errno);
    int err = 0;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        // A folder opens for reading on POSIX but is no file to write over.
        err = EISDIR;
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        err = errno;
    }
    // Closing the descriptor also drops the lock we may have taken.
    ::close(fd);
    return OpenErrorFromErrno(err);
}

std::string UnixFileSystem::CurrentFolder() {
    std::unique_ptr<char, decltype(&::free)> path(::getcwd(nullptr, 0), &::free);
    return path ? std::string(path.get()) : std::string();
}

bool UnixFileSystem::SetCurrentFolder(const std::string& path) { return ::chdir(path.c_str()) == 0; }

std::vector<std::string> UnixFileSystem::DriveEntries() {
    std::ifstream table("/proc/self/mounts");
    // A mount table that cannot be read still leaves the root to choose.
    const std::string text{std::istreambuf_iterator<char>(table), std::istreambuf_iterator<char>()};
    return tarven::DriveEntries(ParseMountPoints(text));
}

bool UnixFileSystem::ChangeDrive(const std::string& drive) { return SetCurrentFolder(drive); }

FileSystem& SystemFileSystem() {
    static UnixFileSystem fileSystem;
    return fileSystem;
}

}  // namespace tarven
