#include "FolderPaths.h"

#include <QFile>

#include <algorithm>
#include <memory>

#include <dirent.h>
#include <sys/stat.h>

namespace tarven {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// d_type tells most file systems' entries apart without a stat; links and
// file systems that leave it unknown need one (stat follows the link, so a
// link to a folder is a folder, as it is to every program that opens it).
bool IsFolderEntry(const QByteArray& folder, const dirent* entry) {
    if (entry->d_type == DT_DIR) return true;
    if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK) return false;
    QByteArray full = folder;
    if (!full.endsWith('/')) full += '/';
    full += entry->d_name;
    struct stat st {};
    return ::stat(full.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Calls `visit` with each visible folder name; stops when it returns false.
template <typename Visit>
void ForEachSubfolder(const QString& folder, Visit visit) {
    const QByteArray encoded = QFile::encodeName(folder);
    DirHandle dir(::opendir(encoded.constData()));
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir.get())) {
        const QString name = QFile::decodeName(entry->d_name);
        if (IsHiddenFolderName(name) || !IsFolderEntry(encoded, entry)) continue;
        if (!visit(name)) return;
    }
}

}  // namespace

QStringList SplitFolderPath(const QString& path) {
    return path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

QString PathFromNames(const QStringList& namesBelowRoot) {
    return QLatin1Char('/') + namesBelowRoot.join(QLatin1Char('/'));
}

QString DropTrailingSeparator(const QString& path) {
    if (path.size() > 1 && path.endsWith(QLatin1Char('/'))) return path.chopped(1);
    return path;
}

QString JoinFolderPath(const QString& parent, const QString& name) {
    QString base = parent;
    if (base.endsWith(QLatin1Char('/'))) base.chop(1);
    return base + QLatin1Char('/') + name;
}

bool IsHiddenFolderName(const QString& name) { return name.startsWith(QLatin1Char('.')); }

bool FolderNameLess(const QString& a, const QString& b) {
    const int folded = QString::compare(a, b, Qt::CaseInsensitive);
    if (folded != 0) return folded < 0;
    return QString::compare(a, b, Qt::CaseSensitive) < 0;
}

QStringList ListSubfolders(const QString& folder) {
    QStringList names;
    ForEachSubfolder(folder, [&](const QString& name) {
        names.append(name);
        return true;
    });
    std::sort(names.begin(), names.end(), FolderNameLess);
    return names;
}

bool IsSymbolicLink(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::optional<QString> FirstSubfolder(const QString& folder) {
    std::optional<QString> found;
    ForEachSubfolder(folder, [&](const QString& name) {
        found = name;
        return false;
    });
    return found;
}

}  // namespace tarven
