#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>

#include "ReadBackSinkPlatform.h"

namespace tarven::sinkfile {
namespace {

constexpr char kTemporaryStem[] = ".tarven-readback-";
// As the kernel's own limit on symbolic links in one lookup.
constexpr int kMaxLinkHops = 40;

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string ReadLink(const std::string& path) {
    std::string target(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0) return {};
        if (std::size_t(n) < target.size()) {
            target.resize(std::size_t(n));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

std::string RandomSuffix() {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    std::string suffix(8, 'x');
    for (char& c : suffix) c = kLetters[pick(random)];
    return suffix;
}

}  // namespace

std::string FinalPath(const std::string& target) {
    std::string path = target;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat entry {};
        if (::lstat(path.c_str(), &entry) != 0 || !S_ISLNK(entry.st_mode)) return path;
        const std::string next = ReadLink(path);
        if (next.empty()) return path;
        path = next.front() == '/' ? next : FolderOf(path) + "/" + next;
    }
    return path;
}

int CreateBeside(const std::string& final, std::string& temporary, std::intptr_t& handle, bool ownerOnly) {
    struct stat existing {};
    const bool exists = ::stat(final.c_str(), &existing) == 0;
    // A pipe or a device would take the rename in its place (as root even
    // /dev/null), and a folder cannot be replaced by a file.
    if (exists && !S_ISREG(existing.st_mode)) return S_ISDIR(existing.st_mode) ? EISDIR : ENODEV;
    const std::string stem = FolderOf(final) + "/" + kTemporaryStem;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = stem + RandomSuffix();
        // 0666 as for any new file, so the umask decides as it would have.
        const mode_t mode = ownerOnly ? 0600 : 0666;
        const int fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return errno;
        if (exists) {
            // The replacement is the old file's: its owner and group as far as
            // we may give them, then its mode (after the chown, which may
            // clear set-id bits).
            if (::fchown(fd, existing.st_uid, existing.st_gid) != 0) (void)::fchown(fd, uid_t(-1), existing.st_gid);
            (void)::fchmod(fd, existing.st_mode & 07777);
        }
        handle = fd;
        return 0;
    }
    return EEXIST;
}

int WriteAll(std::intptr_t handle, const std::uint8_t* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(int(handle), bytes, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        bytes += n;
        count -= std::size_t(n);
    }
    return 0;
}

int Close(std::intptr_t handle, bool flush) {
    int error = 0;
    if (flush && ::fsync(int(handle)) != 0 && errno != EINVAL && errno != EROFS) error = errno;
    if (::close(int(handle)) != 0 && errno != EINTR && error == 0) error = errno;
    return error;
}

int MoveOver(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

void Remove(const std::string& path) { (void)::unlink(path.c_str()); }

std::string TemporaryFolder() {
    const char* folder = std::getenv("TMPDIR");
    return folder && *folder ? folder : "/tmp";
}

}  // namespace tarven::sinkfile
