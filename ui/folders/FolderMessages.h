// What the folder dialogs' Qt views share: the one road by which they and
// CanOpenFile show a message, and the conversion of the models' paths.
// The road ends in the program's ShowMessage; tests put their own function
// in its place to read the text instead of waiting on a modal box.
#pragma once

#include "FolderView.h"

#include <QString>

#include <functional>
#include <string>

class QWidget;

namespace tarven {

using WarningFunction = std::function<void(QWidget* parent, const QString& text)>;

// The function that shows the folder dialogs' messages; ShowMessage unless
// replaced. An empty function shows nothing.
WarningFunction& FolderWarningHook();

// Shows `text` through the hook.
void ShowFolderWarning(QWidget* parent, const QString& text);

// The models' paths are the file system's bytes; Qt shows them decoded.
QString FromPath(const std::string& path);
std::string ToPath(const QString& path);

// The wait cursor on or off, nesting.
void ShowWaitCursorOver(bool on);

// The message boxes of a model, shown over `parent`.
class WidgetMessages : public FolderMessageSink {
public:
    explicit WidgetMessages(QWidget* parent) : parent_(parent) {}
    void ShowMessage(const std::string& text) override { ShowFolderWarning(parent_, FromPath(text)); }

private:
    QWidget* parent_;
};

}  // namespace tarven
