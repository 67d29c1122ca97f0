// The folder browser's drop-down list of "drives". A POSIX system has one
// tree, so the list holds the root and the removable or external volumes
// mounted under the usual places, each written as the old drive entries
// were, between "[-" and "-]": "[-/-]", "[-/media/tech/USB-]".
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarven {

// True for mount points under /media, /run/media or /mnt (or /mnt itself),
// where desktops and technicians mount USB sticks and external discs.
bool IsRemovableMountPoint(const std::string& mountPoint);

// The entry text of a drive or mount point.
std::string DriveEntryText(const std::string& drive);

// The drive or mount point an entry names, or nothing for text that names
// none.
std::optional<std::string> DriveOfEntry(const std::string& entry);

// The list's entries for the given mount points: the root first, then each
// removable one once, sorted.
std::vector<std::string> DriveEntries(const std::vector<std::string>& mountPoints);

// The index of the entry whose volume holds `path`: the deepest mount point
// that is the path or one of its parent folders, or the first drive letter
// of the path's drive. Falls back to 0, the first entry, when none fits.
int DriveEntryIndexForPath(const std::vector<std::string>& entries, const std::string& path);

}  // namespace tarven
