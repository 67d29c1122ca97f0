#include <windows.h>

#include <aclapi.h>

#include <cerrno>
#include <random>

#include "ImageFileWin.h"
#include "ReadBackSinkPlatform.h"

namespace tarven::sinkfile {
namespace {

constexpr wchar_t kTemporaryStem[] = L".tarven-readback-";

std::wstring FolderOf(const std::wstring& path) {
    const std::size_t cut = path.find_last_of(L"\\/:");
    if (cut == std::wstring::npos) return L".";
    if (path[cut] == L':') return path.substr(0, cut + 1);  // "C:name": the drive's current folder
    return cut == 0 ? path.substr(0, 1) : path.substr(0, cut);
}

std::wstring RandomSuffix() {
    static constexpr wchar_t kLetters[] = L"abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters / sizeof kLetters[0] - 2);
    std::wstring suffix(8, L'x');
    for (wchar_t& c : suffix) c = kLetters[pick(random)];
    return suffix;
}

int LastErrno() { return ErrnoFromWindowsError(::GetLastError()); }

// The replacement gets the old file's own access rules and attributes; what
// it inherits from the folder it has already. Best effort: a file we may
// replace but not read the rules of still gets replaced.
void TakeOverAccess(const std::wstring& existing, DWORD attributes, HANDLE replacement) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(existing.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                nullptr, &descriptor) == ERROR_SUCCESS) {
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        const bool isProtected =
            ::GetSecurityDescriptorControl(descriptor, &control, &revision) && (control & SE_DACL_PROTECTED);
        const SECURITY_INFORMATION what =
            DACL_SECURITY_INFORMATION |
            (isProtected ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION);
        (void)::SetSecurityInfo(replacement, SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
        ::LocalFree(descriptor);
    }
    const DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                     FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (kept == 0) return;
    FILE_BASIC_INFO basic{};  // times of 0: left as they are
    basic.FileAttributes = kept;
    (void)::SetFileInformationByHandle(replacement, FileBasicInfo, &basic, sizeof basic);
}

}  // namespace

// Symbolic links are rare on Windows and need rights to make; a link named as
// the target is replaced itself.
std::string FinalPath(const std::string& target) { return target; }

int CreateBeside(const std::string& final, std::string& temporary, std::intptr_t& handle, bool) {
    std::wstring wide;
    if (!WideFileName(final, wide)) return EINVAL;
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return EISDIR;
    // A new target gets the folder's permissions, as if created in place;
    // MoveFileExW keeps whatever the temporary file has.
    std::wstring stem = FolderOf(wide);
    if (stem.back() != L'\\' && stem.back() != L'/' && stem.back() != L':') stem += L'\\';
    stem += kTemporaryStem;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring name = LongPathForm(stem + RandomSuffix());
        const HANDLE h = ::CreateFileW(name.c_str(), GENERIC_WRITE | WRITE_DAC, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_EXISTS) continue;
        if (h == INVALID_HANDLE_VALUE) return LastErrno();
        // A device under a file's name ("COM1.bin" before Windows 11) is no place for an image.
        if (::GetFileType(h) != FILE_TYPE_DISK) {
            ::CloseHandle(h);
            return ENODEV;
        }
        if (attributes != INVALID_FILE_ATTRIBUTES) TakeOverAccess(wide, attributes, h);
        temporary = Utf8FileName(name);
        handle = reinterpret_cast<std::intptr_t>(h);
        return 0;
    }
    return EEXIST;
}

int WriteAll(std::intptr_t handle, const std::uint8_t* bytes, std::size_t count) {
    while (count > 0) {
        const DWORD chunk = count > (1u << 30) ? DWORD(1u << 30) : DWORD(count);
        DWORD wrote = 0;
        if (!::WriteFile(reinterpret_cast<HANDLE>(handle), bytes, chunk, &wrote, nullptr)) return LastErrno();
        if (wrote == 0) return EIO;
        bytes += wrote;
        count -= wrote;
    }
    return 0;
}

int Close(std::intptr_t handle, bool flush) {
    const HANDLE h = reinterpret_cast<HANDLE>(handle);
    int error = 0;
    if (flush && !::FlushFileBuffers(h)) error = LastErrno();
    if (!::CloseHandle(h) && error == 0) error = LastErrno();
    return error;
}

int MoveOver(const std::string& from, const std::string& to) {
    std::wstring wideFrom, wideTo;
    if (!WideFileName(from, wideFrom) || !WideFileName(to, wideTo)) return EINVAL;
    if (::MoveFileExW(wideFrom.c_str(), wideTo.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
    return LastErrno();
}

void Remove(const std::string& path) {
    std::wstring wide;
    if (WideFileName(path, wide)) (void)::DeleteFileW(wide.c_str());
}

// The user's own temporary folder, never the C library's "/tmp".
std::string TemporaryFolder() {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) return ".";
    return Utf8FileName(std::wstring_view(folder, length));
}

}  // namespace tarven::sinkfile
