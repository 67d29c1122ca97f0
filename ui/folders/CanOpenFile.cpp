#include "CanOpenFile.h"

#include "FolderMessages.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarven {

namespace {

// The errno of a failed exclusive open, or 0 when the file could be held.
int TryExclusiveOpen(const QString& path, bool readOnly) {
    const QByteArray name = QFile::encodeName(path);
    // O_NONBLOCK keeps a FIFO or a device from stalling the question; for a
    // regular file it changes nothing.
    const int flags = (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    const int fd = ::open(name.constData(), flags);
    if (fd < 0) return errno;
    int err = 0;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        // A folder opens for reading on POSIX but is no file to write over.
        err = EISDIR;
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        err = errno;
    }
    // Closing the descriptor also drops the lock we may have taken.
    ::close(fd);
    return err;
}

}  // namespace

std::optional<QString> FileErrorText(int err) {
    switch (err) {
        case ENOENT:
            return QStringLiteral("File not found !");
        case ENOTDIR:
        case ENAMETOOLONG:
        case EINVAL:
            return QStringLiteral("Invalid path !");
        case EMFILE:
        case ENFILE:
            return QStringLiteral("Too many files opened !");
        case EACCES:
        case EPERM:
        case EROFS:
            return QStringLiteral("Access denied !");
        case EBUSY:
        case ETXTBSY:
            return QStringLiteral("Sharing Violation !");
        case EWOULDBLOCK:
#if EAGAIN != EWOULDBLOCK
        case EAGAIN:
#endif
            return QStringLiteral("Cannot open locked file !");
        default:
            return std::nullopt;
    }
}

bool CanOpenFile(const QString& path, bool readOnly, bool report, QWidget* parent) {
    if (path.isNull()) return false;
    const int err = TryExclusiveOpen(path, readOnly);
    if (err == 0) return true;
    if (report) {
        if (const std::optional<QString> cause = FileErrorText(err)) {
            ShowFolderWarning(parent, path + QLatin1Char('\n') + *cause);
        }
    }
    return false;
}

}  // namespace tarven
