// What the Windows parts of the file seam share: file names arrive as UTF-8
// and reach the system only through its wide calls, so no code page ever
// sees them, and the system's error codes leave as errno values.
#pragma once

#include <string>
#include <string_view>

namespace tarven {

// False for text that is not UTF-8; such a name names no file.
bool WideFileName(std::string_view utf8, std::wstring& wide);

// The errno value that tells the same as a GetLastError() code.
int ErrnoFromWindowsError(unsigned long error);

}  // namespace tarven
