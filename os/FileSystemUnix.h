// The POSIX file system behind the folder dialogs.
#pragma once

#include "FileSystem.h"

#include <string>
#include <vector>

namespace tarven {

// The cause of a failed open with `err`, an errno value.
FileOpenError OpenErrorFromErrno(int err);

// The mount points named in a mount table in the format of /proc/self/mounts
// (the second field of each line, with its octal escapes such as \040 for a
// blank undone).
std::vector<std::string> ParseMountPoints(const std::string& mountTable);

class UnixFileSystem : public FileSystem {
public:
    bool ListFolder(const std::string& folder, const std::function<bool(const FolderEntry&)>& visit) override;
    bool IsSymbolicLink(const std::string& path) override;
    bool MakeFolder(const std::string& path) override;
    FileOpenError TryOpenFile(const std::string& path, bool readOnly) override;
    std::string CurrentFolder() override;
    bool SetCurrentFolder(const std::string& path) override;
    // The root, then the removable volumes of this process's mount table.
    std::vector<std::string> DriveEntries() override;
    bool ChangeDrive(const std::string& drive) override;
};

}  // namespace tarven
