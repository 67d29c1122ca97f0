#include "ImageFile.h"

#include <cerrno>

namespace tarven {

ImageFile& ImageFile::operator=(ImageFile&& other) noexcept {
    if (this == &other) return *this;
    Close();
    handle_ = other.handle_;
    error_ = other.error_;
    notRegular_ = other.notRegular_;
    size_ = other.size_;
    other.handle_ = kNoHandle;
    return *this;
}

int ImageFile::ReadFully(std::int64_t offset, void* buffer, std::size_t count) const {
    auto* out = static_cast<unsigned char*>(buffer);
    while (count > 0) {
        const std::int64_t got = ReadAt(offset, out, count);
        if (got < 0) return errno != 0 ? errno : EIO;
        if (got == 0) return EIO;
        out += got;
        offset += got;
        count -= std::size_t(got);
    }
    return 0;
}

}  // namespace tarven
