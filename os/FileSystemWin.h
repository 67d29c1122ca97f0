// The Windows file system behind the folder dialogs and the image list:
// drive letters, backslashes, and the system's own error codes.
#pragma once

#include "FileSystem.h"

#include <string>
#include <string_view>

namespace tarven {

// The cause of a failed open with `error`, a GetLastError() value.
FileOpenError OpenErrorFromWindowsError(unsigned long error);

// Paths travel as UTF-8 through the models; Windows' wide calls take UTF-16.
std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);

class WindowsFileSystem : public FileSystem {
public:
    bool ListFolder(const std::string& folder, const std::function<bool(const FolderEntry&)>& visit) override;
    bool IsSymbolicLink(const std::string& path) override;
    bool MakeFolder(const std::string& path) override;
    FileOpenError TryOpenFile(const std::string& path, bool readOnly) override;
    std::string CurrentFolder() override;
    bool SetCurrentFolder(const std::string& path) override;
    std::size_t CurrentFolderLimit() const override;
    // One entry per drive letter the system reports, as "[-c-]".
    std::vector<std::string> DriveEntries() override;
    // `drive` is the letter of an entry; its own current folder becomes current.
    bool ChangeDrive(const std::string& drive) override;
};

}  // namespace tarven
