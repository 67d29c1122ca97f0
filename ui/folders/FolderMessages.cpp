#include "FolderMessages.h"

#include "MessageHook.h"

#include <QApplication>
#include <QCursor>

namespace tarven {

WarningFunction& FolderWarningHook() {
    // The window's own message road, so a hook set for the whole program covers these dialogs too.
    static WarningFunction hook = ShowMessage;
    return hook;
}

void ShowFolderWarning(QWidget* parent, const QString& text) {
    if (const WarningFunction& hook = FolderWarningHook()) hook(parent, text);
}

ScopedWaitCursor::ScopedWaitCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }

ScopedWaitCursor::~ScopedWaitCursor() { QApplication::restoreOverrideCursor(); }

}  // namespace tarven
