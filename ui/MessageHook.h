// Every message box of the window goes through one replaceable hook, so a
// test can collect the texts instead of waiting for someone to press OK.
#pragma once

#include <functional>

#include <QString>

class QWidget;

namespace tarven {

using MessageHook = std::function<void(QWidget* parent, const QString& text)>;

// Shows `text` through the hook: by default the program's warning box, which
// returns once OK is pressed. Call on the user-interface thread.
void ShowMessage(QWidget* parent, const QString& text);

// Installs `hook` (an empty function restores the warning box) and returns the
// one it replaces.
MessageHook SetMessageHook(MessageHook hook);

}  // namespace tarven
