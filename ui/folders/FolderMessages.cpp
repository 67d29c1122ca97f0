#include "FolderMessages.h"

#include "MessageBox.h"

#include <QApplication>
#include <QCursor>

namespace tarven {

WarningFunction& FolderWarningHook() {
    static WarningFunction hook = ShowWarning;
    return hook;
}

void ShowFolderWarning(QWidget* parent, const QString& text) {
    if (const WarningFunction& hook = FolderWarningHook()) hook(parent, text);
}

ScopedWaitCursor::ScopedWaitCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }

ScopedWaitCursor::~ScopedWaitCursor() { QApplication::restoreOverrideCursor(); }

}  // namespace tarven
