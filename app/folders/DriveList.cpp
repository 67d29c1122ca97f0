#include "DriveList.h"

#include "FolderPaths.h"

#include <algorithm>
#include <cctype>

namespace tarven {

namespace {

const std::string kEntryStart = "[-";
const std::string kEntryEnd = "-]";

bool StartsWith(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool IsUnder(const std::string& path, const std::string& folder) {
    return path == folder || StartsWith(path, folder + '/');
}

// A drive letter holds the paths on that drive, in either letter case; a
// mount point the paths at or below it.
bool DriveHolds(const std::string& drive, const std::string& path) {
    if (drive == "/") return StartsWith(path, "/");
    if (drive.size() == 1 && std::isalpha(static_cast<unsigned char>(drive[0]))) {
        return path.size() >= 2 && path[1] == ':' &&
               std::toupper(static_cast<unsigned char>(path[0])) == std::toupper(static_cast<unsigned char>(drive[0]));
    }
    return IsUnder(path, drive);
}

}  // namespace

bool IsRemovableMountPoint(const std::string& mountPoint) {
    // /media and /run/media hold one folder per user below them; a volume is
    // never mounted on those folders themselves.
    for (const char* base : {"/media/", "/run/media/"}) {
        if (StartsWith(mountPoint, base)) return true;
    }
    return IsUnder(mountPoint, "/mnt");
}

std::string DriveEntryText(const std::string& drive) { return kEntryStart + drive + kEntryEnd; }

std::optional<std::string> DriveOfEntry(const std::string& entry) {
    if (!StartsWith(entry, kEntryStart) || !EndsWith(entry, kEntryEnd)) return std::nullopt;
    const std::size_t framing = kEntryStart.size() + kEntryEnd.size();
    if (entry.size() <= framing) return std::nullopt;
    return entry.substr(kEntryStart.size(), entry.size() - framing);
}

std::vector<std::string> DriveEntries(const std::vector<std::string>& mountPoints) {
    std::vector<std::string> removable;
    for (const std::string& point : mountPoints) {
        const std::string clean = DropTrailingSeparator(point);
        if (IsRemovableMountPoint(clean) && std::find(removable.begin(), removable.end(), clean) == removable.end()) {
            removable.push_back(clean);
        }
    }
    std::sort(removable.begin(), removable.end(), FolderNameLess);
    std::vector<std::string> entries{DriveEntryText("/")};
    for (const std::string& point : removable) entries.push_back(DriveEntryText(point));
    return entries;
}

int DriveEntryIndexForPath(const std::vector<std::string>& entries, const std::string& path) {
    int best = 0;
    std::size_t bestLength = 0;
    bool found = false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::optional<std::string> point = DriveOfEntry(entries[i]);
        if (!point) continue;
        if (DriveHolds(*point, path) && (!found || point->size() > bestLength)) {
            best = int(i);
            bestLength = point->size();
            found = true;
        }
    }
    return best;
}

}  // namespace tarven
