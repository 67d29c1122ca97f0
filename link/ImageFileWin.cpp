#include <windows.h>

#include <cerrno>
#include <climits>
#include <utility>

#include "ImageFile.h"
#include "ImageFileWin.h"

namespace tarven {

std::wstring LongPathForm(std::wstring wide) {
    // Folders stop at MAX_PATH less the room for an 8.3 name; files at MAX_PATH.
    constexpr std::size_t kPlainLimit = MAX_PATH - 12;
    if (wide.size() < kPlainLimit || wide.rfind(L"\\\\?\\", 0) == 0 || wide.rfind(L"\\\\.\\", 0) == 0) return wide;
    // The prefix turns off the system's own clean-up of "/", "." and "..", so
    // the full path is made first; it also gives a relative name its folder.
    const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return wide;
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return wide;
    full.resize(length);
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share
    return L"\\\\?\\" + full;
}

bool WideText(std::string_view utf8, std::wstring& wide) {
    wide.clear();
    if (utf8.empty()) return true;
    if (utf8.size() > std::size_t(INT_MAX)) return false;
    const int size = int(utf8.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (length <= 0) return false;
    wide.resize(std::size_t(length));
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), length) != length)
        return false;
    return true;
}

bool WideFileName(std::string_view utf8, std::wstring& wide) {
    if (!WideText(utf8, wide)) return false;
    wide = LongPathForm(std::move(wide));
    return true;
}

std::string Utf8FileName(std::wstring_view wide) {
    if (wide.empty() || wide.size() > std::size_t(INT_MAX)) return {};
    const int size = int(wide.size());
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string text(std::size_t(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), length, nullptr, nullptr);
    return text;
}

int ErrnoFromWindowsError(unsigned long error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE: return ENOENT;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_NO_UNICODE_TRANSLATION: return EINVAL;
        case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
        case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT: return EACCES;
        case ERROR_SHARING_VIOLATION: return EBUSY;
        case ERROR_LOCK_VIOLATION:
        case ERROR_DRIVE_LOCKED: return EAGAIN;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        case ERROR_NOT_SAME_DEVICE: return EXDEV;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: return ENOMEM;
        default: return EIO;
    }
}

ImageFile OpenImage(const std::string& path) {
    ImageFile file;
    std::wstring wide;
    if (!WideFileName(path, wide)) {
        file.error_ = EINVAL;
        return file;
    }
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        file.error_ = ErrnoFromWindowsError(::GetLastError());
        return file;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        file.error_ = EISDIR;
        file.notRegular_ = true;
        return file;
    }
    // Others may read and write it meanwhile, as the C library's open allows.
    const HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        file.error_ = ErrnoFromWindowsError(::GetLastError());
        return file;
    }
    // A reserved device name with an image's extension ("COM1.bin", "nul.bin")
    // opens the device on Windows before 11, and a named pipe opens a pipe:
    // neither is a file on a disk.
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::CloseHandle(handle);
        file.error_ = ENODEV;
        file.notRegular_ = true;
        return file;
    }
    file.handle_ = reinterpret_cast<std::intptr_t>(handle);
    file.size_ = (std::int64_t(info.nFileSizeHigh) << 32) | std::int64_t(info.nFileSizeLow);
    return file;
}

std::int64_t ImageFile::ReadAt(std::int64_t offset, void* buffer, std::size_t count) const {
    // A synchronous handle reads at the offset an OVERLAPPED names.
    OVERLAPPED at{};
    at.Offset = DWORD(std::uint64_t(offset) & 0xFFFFFFFFu);
    at.OffsetHigh = DWORD(std::uint64_t(offset) >> 32);
    const DWORD wanted = count > (1u << 30) ? DWORD(1u << 30) : DWORD(count);
    DWORD got = 0;
    if (::ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, wanted, &got, &at)) return got;
    const DWORD error = ::GetLastError();
    if (error == ERROR_HANDLE_EOF) return 0;
    errno = ErrnoFromWindowsError(error);
    return -1;
}

void ImageFile::Close() {
    if (handle_ == kNoHandle) return;
    ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = kNoHandle;
}

}  // namespace tarven
