// The Windows build's stand-ins for the few POSIX file calls that image and
// output files use. cmake gives this header to every file of the Windows
// build; the Linux build never sees it.
#pragma once

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <direct.h>

#include <cstddef>
#include <cstdint>

// Every open of ours says O_CLOEXEC. On Windows it also asks for binary mode:
// in the C library's default text mode a 0x1A byte ends the file and line
// ends are rewritten, which would cut and change images.
#ifndef O_CLOEXEC
#define O_CLOEXEC (_O_NOINHERIT | _O_BINARY)
#endif

// Image files are plain files on Windows: nothing to keep from blocking, no terminal to adopt.
#ifndef O_NONBLOCK
#define O_NONBLOCK 0
#endif
#ifndef O_NOCTTY
#define O_NOCTTY 0
#endif

// The image files are read by one thread each, so a seek and a read serve as one call.
inline long long pread(int fd, void* buffer, std::size_t count, long long offset) {
    if (::_lseeki64(fd, offset, SEEK_SET) < 0) return -1;
    return ::_read(fd, buffer, unsigned(count));
}

// Windows' own full path; a name that does not exist still resolves, as a
// caller that then stats it expects.
inline char* realpath(const char* path, char* resolved) { return ::_fullpath(resolved, path, resolved ? 260 : 0); }

// Shortcuts are ordinary files to the C library: there is no link to tell apart.
inline int lstat(const char* path, struct stat* entry) { return ::stat(path, entry); }

inline int mkostemp(char* pattern, int flags) {
    const int fd = ::mkstemp(pattern);
    if (fd >= 0 && (flags & _O_BINARY)) ::_setmode(fd, _O_BINARY);
    return fd;
}

// Windows files carry no POSIX permission bits worth copying.
inline int fchmod(int, unsigned) { return 0; }

inline char* mkdtemp(char* pattern) {
    if (!::_mktemp(pattern)) return nullptr;
    return ::_mkdir(pattern) == 0 ? pattern : nullptr;
}
