// The read-back sink's file operations, one file per platform
// (ReadBackSinkUnix.cpp, ReadBackSinkWin.cpp). Every call reports an errno
// value: 0 when it worked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarven::sinkfile {

// The file a write to `target` would land in: `target` itself, or the end of
// its chain of symbolic links, even when that does not exist yet.
std::string FinalPath(const std::string& target);

// Creates a new, empty file in the folder of `final` under a name of its own
// (hidden, and without ".bi" in it, so that a copy left by a killed run never
// shows in the window's image list), with the permission bits of `final`
// when it exists. Refuses a `final` that exists and is no regular file.
// `ownerOnly`: a new file only this user may read, whatever the umask.
int CreateBeside(const std::string& final, std::string& temporary, std::intptr_t& handle, bool ownerOnly = false);

// Writes all of `count` bytes.
int WriteAll(std::intptr_t handle, const std::uint8_t* bytes, std::size_t count);

// Closes the file; with `flush`, its bytes reach the disk first, so that a
// replaced target is never left empty by a crash right after the rename.
int Close(std::intptr_t handle, bool flush);

// Puts `from` in the place of `to` in one step, replacing a file already there.
int MoveOver(const std::string& from, const std::string& to);

void Remove(const std::string& path);

// The system's folder for temporary files, as UTF-8.
std::string TemporaryFolder();

}  // namespace tarven::sinkfile
