// The folder dialogs' message texts, and the question asked before a
// read-back writes over a file: can that file be opened?
#pragma once

#include "FileSystem.h"

#include <optional>
#include <string>

namespace tarven {

class FolderMessageSink;

inline constexpr const char* kDeviceErrorText = "Device error!";
inline constexpr const char* kFolderNotCreatedText = "Fail to create folder!";
inline constexpr const char* kInvalidFileNameText = "Invalid file name!";

// The text that explains a failed open, or nothing for a cause the user is
// not told about.
std::optional<std::string> FileErrorText(FileOpenError error);

// The message for a folder the system cannot make current because its path
// is longer than `limit` characters.
std::string FolderPathTooLongText(std::size_t limit);

// The message for a field longer than `limit` characters, or nothing when
// the text fits.
std::optional<std::string> LengthLimitMessage(const std::string& text, std::size_t limit);

// Opens `path` as it exists, for reading only when `readOnly` is set and for
// reading and writing otherwise, holding it exclusively, and closes it again
// at once. A null path answers false without trying (an empty one is tried).
// When the open fails and `report` is set, `messages` shows the path as
// passed, a line feed and the cause, for the causes FileErrorText knows;
// other causes fail silently.
bool CanOpenFile(FileSystem& fileSystem, const char* path, bool readOnly, bool report, FolderMessageSink& messages);

}  // namespace tarven
