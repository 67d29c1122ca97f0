// What the folder dialogs' Qt views share: their messages, which take the
// window's own road, and the conversion of the models' paths.
#pragma once

#include "FolderView.h"
#include "MessageHook.h"

#include <QString>

#include <string>

class QWidget;

namespace tarven {

// The models' paths are the file system's bytes; Qt shows them decoded.
QString FromPath(const std::string& path);
std::string ToPath(const QString& path);

// The wait cursor on or off, nesting.
void ShowWaitCursorOver(bool on);

// The message boxes of a model, shown over `parent` through `road`.
class WidgetMessages : public FolderMessageSink {
public:
    WidgetMessages(const MessageRoad& road, QWidget* parent) : road_(road), parent_(parent) {}
    void ShowMessage(const std::string& text) override { road_.Show(parent_, FromPath(text)); }

private:
    const MessageRoad& road_;
    QWidget* parent_;
};

}  // namespace tarven
