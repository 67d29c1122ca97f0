#include "FolderMessages.h"

#include "MessageHook.h"

#include <QApplication>
#include <QCursor>
#include <QFile>

namespace tarven {

WarningFunction& FolderWarningHook() {
    // The window's own message road, so a hook set for the whole program covers these dialogs too.
    static WarningFunction hook = ShowMessage;
    return hook;
}

void ShowFolderWarning(QWidget* parent, const QString& text) {
    if (const WarningFunction& hook = FolderWarningHook()) hook(parent, text);
}

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
