#include "FileSystemWin.h"

#include "DriveList.h"
#include "ImageFileWin.h"

#include <windows.h>
#include <cctype>
#include <direct.h>

namespace tarven {

FileOpenError OpenErrorFromWindowsError(unsigned long error) {
    switch (error) {
        case ERROR_SUCCESS: return FileOpenError::kNone;
        case ERROR_FILE_NOT_FOUND: return FileOpenError::kNotFound;
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE: return FileOpenError::kInvalidPath;
        case ERROR_TOO_MANY_OPEN_FILES: return FileOpenError::kTooManyFiles;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT: return FileOpenError::kAccessDenied;
        case ERROR_SHARING_VIOLATION: return FileOpenError::kSharingViolation;
        case ERROR_LOCK_VIOLATION:
        case ERROR_DRIVE_LOCKED: return FileOpenError::kLocked;
        default: return FileOpenError::kOther;
    }
}

std::wstring WideFromUtf8(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

std::string Utf8FromWide(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

namespace {

// A path as the system's file calls take it: from about 248 characters in
// the long form, which the folder tree needs near its walking limit (a
// listing adds "\\*", a new folder its name) and which the plain calls refuse.
std::wstring SystemPath(const std::string& path) {
    std::wstring wide;
    if (!WideFileName(path, wide)) wide = LongPathForm(WideFromUtf8(path));
    return wide;
}

}  // namespace

bool WindowsFileSystem::ListFolder(const std::string& folder, const std::function<bool(const FolderEntry&)>& visit) {
    std::wstring pattern = WideFromUtf8(folder);
    if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
    pattern = LongPathForm(std::move(pattern) + L'*');
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    do {
        const bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!visit(FolderEntry{Utf8FromWide(found.cFileName), isFolder})) break;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

bool WindowsFileSystem::IsSymbolicLink(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool WindowsFileSystem::MakeFolder(const std::string& path) {
    return CreateDirectoryW(SystemPath(path).c_str(), nullptr) != FALSE;
}

FileOpenError WindowsFileSystem::TryOpenFile(const std::string& path, bool readOnly) {
    // No sharing: the answer is whether this program could have the file to itself.
    const DWORD access = readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    HANDLE file =
        CreateFileW(SystemPath(path).c_str(), access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return OpenErrorFromWindowsError(GetLastError());
    CloseHandle(file);
    return FileOpenError::kNone;
}

std::string WindowsFileSystem::CurrentFolder() {
    std::wstring path(GetCurrentDirectoryW(0, nullptr), L'\0');
    const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(path.size()), path.data());
    path.resize(length);
    return Utf8FromWide(path);
}

std::size_t WindowsFileSystem::CurrentFolderLimit() const {
    // The current folder has no long form: MAX_PATH with its null and the
    // backslash the system adds.
    return MAX_PATH - 2;
}

bool WindowsFileSystem::SetCurrentFolder(const std::string& path) {
    return SetCurrentDirectoryW(WideFromUtf8(path).c_str()) != FALSE;
}

std::vector<std::string> WindowsFileSystem::DriveEntries() {
    std::vector<std::string> entries;
    const DWORD drives = GetLogicalDrives();
    for (int letter = 0; letter < 26; ++letter) {
        if (drives & (1UL << letter)) entries.push_back(DriveEntryText(std::string(1, char('a' + letter))));
    }
    return entries;
}

bool WindowsFileSystem::ChangeDrive(const std::string& drive) {
    if (drive.size() != 1 || !std::isalpha(static_cast<unsigned char>(drive[0]))) return false;
    // Drive numbers count from 1 for A; each drive keeps its own current folder.
    return _chdrive(std::toupper(static_cast<unsigned char>(drive[0])) - 'A' + 1) == 0;
}

FileSystem& SystemFileSystem() {
    static WindowsFileSystem fileSystem;
    return fileSystem;
}

}  // namespace tarven
