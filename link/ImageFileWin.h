// What the Windows parts of the file seam share: file names arrive as UTF-8
// and reach the system only through its wide calls, so no code page ever
// sees them, and the system's error codes leave as errno values.
#pragma once

#include <string>
#include <string_view>

namespace tarven {

// False for text that is not UTF-8; such a name names no file. A name of
// MAX_PATH characters or near it comes back absolute with the "\\?\" prefix,
// which lifts the system's limit to 32,767.
bool WideFileName(std::string_view utf8, std::wstring& wide);

// The same conversion for text that is no file name (a command line).
bool WideText(std::string_view utf8, std::wstring& wide);

// A wide name already made (a temporary file's, say), in the long form when
// its length needs it.
std::wstring LongPathForm(std::wstring wide);

// The UTF-8 text of a name the system gave; empty for none.
std::string Utf8FileName(std::wstring_view wide);

// The errno value that tells the same as a GetLastError() code.
int ErrnoFromWindowsError(unsigned long error);

}  // namespace tarven
