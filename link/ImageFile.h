// The one place where a file is opened to be read as an image: the upload,
// the window's list of images and their sizes, the version texts inside an
// image, and tarven-link's checks before it sends. Only a regular file opens;
// a folder, a FIFO or a device named like an image is refused without the
// open waiting for anything or acting on the device. Names are UTF-8; the
// platform part is ImageFileUnix.cpp or ImageFileWin.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarven {

class ImageFile {
public:
    ImageFile() = default;
    ImageFile(ImageFile&& other) noexcept { *this = static_cast<ImageFile&&>(other); }
    ImageFile& operator=(ImageFile&& other) noexcept;
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;
    ~ImageFile() { Close(); }

    bool IsOpen() const { return handle_ != kNoHandle; }
    // Why the file is not open, as an errno value: ENOENT, EACCES, EMFILE, ...
    // For a name that exists but is no regular file, EISDIR (a folder) or
    // ENODEV (a FIFO, a device, a socket), and NotRegular() is true.
    int Error() const { return error_; }
    bool NotRegular() const { return notRegular_; }
    // The length when it was opened.
    std::int64_t Size() const { return size_; }

    // Up to `count` bytes from `offset`: the count read, 0 at the end, or -1
    // with errno set. Reads never move a shared position.
    std::int64_t ReadAt(std::int64_t offset, void* buffer, std::size_t count) const;
    // Exactly `count` bytes from `offset`; 0, or the errno of the failed read
    // (EIO when the file ended first, as when it shrank since it was opened).
    int ReadFully(std::int64_t offset, void* buffer, std::size_t count) const;

    void Close();

private:
    friend ImageFile OpenImage(const std::string& path);
    static constexpr std::intptr_t kNoHandle = -1;  // also INVALID_HANDLE_VALUE

    std::intptr_t handle_ = kNoHandle;  // a descriptor, or a Windows HANDLE
    int error_ = 0;
    bool notRegular_ = false;
    std::int64_t size_ = 0;
};

// Opens `path` for reading if it is a regular file; see ImageFile.
ImageFile OpenImage(const std::string& path);

}  // namespace tarven
