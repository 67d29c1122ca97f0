#include "FileMessages.h"

#include "CommandOutcomes.h"
#include "FolderPaths.h"
#include "FolderView.h"

namespace tarven {

std::optional<std::string> FileErrorText(FileOpenError error) {
    switch (error) {
        case FileOpenError::kNotFound: return "File not found !";
        case FileOpenError::kInvalidPath: return "Invalid path !";
        case FileOpenError::kTooManyFiles: return "Too many files opened !";
        case FileOpenError::kAccessDenied: return "Access denied !";
        case FileOpenError::kSharingViolation: return "Sharing Violation !";
        case FileOpenError::kLocked: return "Cannot open locked file !";
        case FileOpenError::kNone:
        case FileOpenError::kOther: break;
    }
    return std::nullopt;
}

std::string FolderPathTooLongText(std::size_t limit) {
    return "Folder path too long! The system takes at most " + std::to_string(limit) + " characters.";
}

std::optional<std::string> LengthLimitMessage(const std::string& text, std::size_t limit) {
    if (CharacterCount(text) <= limit) return std::nullopt;
    return FieldLimitText(int(limit));
}

bool CanOpenFile(FileSystem& fileSystem, const char* path, bool readOnly, bool report, FolderMessageSink& messages) {
    if (!path) return false;
    const FileOpenError error = fileSystem.TryOpenFile(path, readOnly);
    if (error == FileOpenError::kNone) return true;
    if (report) {
        if (const std::optional<std::string> cause = FileErrorText(error)) {
            messages.ShowMessage(std::string(path) + '\n' + *cause);
        }
    }
    return false;
}

}  // namespace tarven
