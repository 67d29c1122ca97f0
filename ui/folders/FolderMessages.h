// The one road by which the folder dialogs and CanOpenFile show a message.
// It ends in the program's ShowMessage; tests put their own function in its place to read
// the text instead of waiting on a modal box.
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace tarven {

using WarningFunction = std::function<void(QWidget* parent, const QString& text)>;

// The function that shows the folder dialogs' messages; ShowMessage unless
// replaced. An empty function shows nothing.
WarningFunction& FolderWarningHook();

// Shows `text` through the hook.
void ShowFolderWarning(QWidget* parent, const QString& text);

// The wait cursor for the lifetime of the object.
class ScopedWaitCursor {
public:
    ScopedWaitCursor();
    ~ScopedWaitCursor();
    ScopedWaitCursor(const ScopedWaitCursor&) = delete;
    ScopedWaitCursor& operator=(const ScopedWaitCursor&) = delete;
};

}  // namespace tarven
