#include "DriveList.h"

#include "FolderPaths.h"

#include <QFile>

#include <algorithm>

namespace tarven {

namespace {

const QString kEntryStart = QStringLiteral("[-");
const QString kEntryEnd = QStringLiteral("-]");

// The kernel writes blanks, tabs, newlines and backslashes in a mount point
// as a backslash and three octal digits.
QByteArray UnescapeMountField(const QByteArray& field) {
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const QByteArray digits = field.mid(i + 1, 3);
            const bool octal = std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '7'; });
            if (octal && digits[0] <= '3') {
                out.append(char(digits.toInt(nullptr, 8)));
                i += 3;
                continue;
            }
        }
        out.append(field[i]);
    }
    return out;
}

bool IsUnder(const QString& path, const QString& folder) {
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

}  // namespace

QStringList ParseMountPoints(const QByteArray& mountTable) {
    QStringList points;
    for (const QByteArray& line : mountTable.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 2) continue;
        points.append(QFile::decodeName(UnescapeMountField(fields[1])));
    }
    return points;
}

bool IsRemovableMountPoint(const QString& mountPoint) {
    // /media and /run/media hold one folder per user below them; a volume is
    // never mounted on those folders themselves.
    for (const QString& base : {QStringLiteral("/media"), QStringLiteral("/run/media")}) {
        if (mountPoint.startsWith(base + QLatin1Char('/'))) return true;
    }
    return IsUnder(mountPoint, QStringLiteral("/mnt"));
}

QString DriveEntryText(const QString& mountPoint) { return kEntryStart + mountPoint + kEntryEnd; }

std::optional<QString> MountPointOfEntry(const QString& entry) {
    if (!entry.startsWith(kEntryStart) || !entry.endsWith(kEntryEnd)) return std::nullopt;
    const qsizetype length = entry.size() - kEntryStart.size() - kEntryEnd.size();
    if (length <= 0) return std::nullopt;
    return entry.mid(kEntryStart.size(), length);
}

QStringList DriveEntries(const QStringList& mountPoints) {
    QStringList removable;
    for (const QString& point : mountPoints) {
        const QString clean = DropTrailingSeparator(point);
        if (IsRemovableMountPoint(clean) && !removable.contains(clean)) removable.append(clean);
    }
    std::sort(removable.begin(), removable.end(), FolderNameLess);
    QStringList entries{DriveEntryText(QStringLiteral("/"))};
    for (const QString& point : removable) entries.append(DriveEntryText(point));
    return entries;
}

QStringList CurrentDriveEntries() {
    QFile table(QStringLiteral("/proc/self/mounts"));
    // A mount table that cannot be read still leaves the root to choose.
    if (!table.open(QIODevice::ReadOnly)) return DriveEntries({});
    return DriveEntries(ParseMountPoints(table.readAll()));
}

int DriveEntryIndexForPath(const QStringList& entries, const QString& path) {
    int best = 0;
    qsizetype bestLength = -1;
    for (int i = 0; i < entries.size(); ++i) {
        const std::optional<QString> point = MountPointOfEntry(entries[i]);
        if (!point) continue;
        const bool holds = *point == QLatin1String("/") ? path.startsWith(QLatin1Char('/')) : IsUnder(path, *point);
        if (holds && point->size() > bestLength) {
            best = i;
            bestLength = point->size();
        }
    }
    return best;
}

}  // namespace tarven
