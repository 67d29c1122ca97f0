#include "FolderMessages.h"

#include <QApplication>
#include <QCursor>
#include <QFile>

namespace tarven {

QString FromPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

std::string ToPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

void ShowWaitCursorOver(bool on) {
    if (on) {
        QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    } else {
        QApplication::restoreOverrideCursor();
    }
}

}  // namespace tarven
