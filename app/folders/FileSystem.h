// The file system as the folder dialogs see it. The models ask only these
// questions, so tests run them on a temporary folder and each platform
// answers them in a file of its own under os/; the front end hands the
// models the machine's one.
#pragma once

#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace tarven {

// Why an existing file could not be opened. Each platform maps its own error
// codes onto these; only the named causes are ever explained to the user.
enum class FileOpenError {
    kNone,
    kNotFound,
    kInvalidPath,
    kTooManyFiles,
    kAccessDenied,
    kSharingViolation,
    kLocked,
    kOther,
};

struct FolderEntry {
    std::string name;
    // True for anything that opens as a folder, a link to a folder included.
    bool isFolder = false;
};

// Paths are the platform's, as UTF-8 text (or the bytes the platform gives).
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Calls `visit` with each entry of `folder`, in the platform's own order,
    // until `visit` answers false. False when the folder cannot be listed.
    virtual bool ListFolder(const std::string& folder, const std::function<bool(const FolderEntry&)>& visit) = 0;

    // True when `path` itself is a symbolic link, whatever it points to.
    virtual bool IsSymbolicLink(const std::string& path) = 0;

    // Creates the folder with the platform's default permissions. False when
    // it exists already or cannot be made.
    virtual bool MakeFolder(const std::string& path) = 0;

    // Opens the existing file at `path` (never creating or truncating it),
    // for reading only or for reading and writing, held so that nobody else
    // has it meanwhile, and closes it again at once.
    virtual FileOpenError TryOpenFile(const std::string& path, bool readOnly) = 0;

    // The process's current folder, which is the program's working folder.
    virtual std::string CurrentFolder() = 0;
    virtual bool SetCurrentFolder(const std::string& path) = 0;
    // The longest path, in characters, the system takes as the current
    // folder. Windows keeps it to MAX_PATH whatever the path's own form.
    virtual std::size_t CurrentFolderLimit() const { return std::numeric_limits<std::size_t>::max(); }

    // The entries of the folder browser's drive list, each written between
    // "[-" and "-]": drive letters on Windows, the root and the removable
    // volumes on POSIX.
    virtual std::vector<std::string> DriveEntries() = 0;

    // Makes `drive` (the text of an entry between "[-" and "-]") the current
    // drive; on POSIX its mount point becomes the current folder.
    virtual bool ChangeDrive(const std::string& drive) = 0;
};

}  // namespace tarven
