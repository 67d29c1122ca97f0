// The folder dialog's drop-down list of "drives". A POSIX system has one
// tree, so the list holds the root and the removable or external volumes
// mounted under the usual places, each written as the old drive entries
// were, between "[-" and "-]": "[-/-]", "[-/media/tech/USB-]".
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace tarven {

// The mount points named in a mount table in the format of /proc/self/mounts
// (the second field of each line, with its octal escapes such as \040 for a
// blank undone).
QStringList ParseMountPoints(const QByteArray& mountTable);

// True for mount points under /media, /run/media or /mnt (or /mnt itself),
// where desktops and technicians mount USB sticks and external discs.
bool IsRemovableMountPoint(const QString& mountPoint);

// The entry text of a mount point.
QString DriveEntryText(const QString& mountPoint);

// The mount point an entry names, or nothing for text that names none.
std::optional<QString> MountPointOfEntry(const QString& entry);

// The list's entries for the given mount points: the root first, then each
// removable one once, sorted.
QStringList DriveEntries(const QStringList& mountPoints);

// The entries for the mount table of this process.
QStringList CurrentDriveEntries();

// The index of the entry whose volume holds `path`: the deepest mount point
// that is the path or one of its parent folders. Falls back to 0, the first
// entry, when none fits.
int DriveEntryIndexForPath(const QStringList& entries, const QString& path);

}  // namespace tarven
