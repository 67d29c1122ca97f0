#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "ImageFile.h"

namespace tarven {
namespace {

int NotRegularCause(const struct stat& st) { return S_ISDIR(st.st_mode) ? EISDIR : ENODEV; }

}  // namespace

ImageFile OpenImage(const std::string& path) {
    ImageFile file;
    // A FIFO or a device is never opened at all: the open alone could wait
    // for a writer or act on the device. Non-blocking as well, for one
    // swapped in after the look; a regular file reads the same either way.
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0) {
        file.error_ = errno;
        return file;
    }
    if (!S_ISREG(before.st_mode)) {
        file.error_ = NotRegularCause(before);
        file.notRegular_ = true;
        return file;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        file.error_ = errno;
        return file;
    }
    struct stat st {};
    const bool looked = ::fstat(fd, &st) == 0;
    if (!looked || !S_ISREG(st.st_mode)) {
        file.error_ = looked ? NotRegularCause(st) : errno;
        file.notRegular_ = looked;
        ::close(fd);
        return file;
    }
    file.handle_ = fd;
    file.size_ = st.st_size;
    return file;
}

std::int64_t ImageFile::ReadAt(std::int64_t offset, void* buffer, std::size_t count) const {
    for (;;) {
        const ssize_t got = ::pread(int(handle_), buffer, count, off_t(offset));
        if (got >= 0 || errno != EINTR) return got;
    }
}

void ImageFile::Close() {
    if (handle_ == kNoHandle) return;
    ::close(int(handle_));
    handle_ = kNoHandle;
}

}  // namespace tarven
