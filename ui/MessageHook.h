// Every message box of the Qt window takes one road, whose end a test can
// replace to collect the texts instead of waiting for someone to press OK.
#pragma once

#include <functional>

#include <QString>

class QWidget;

namespace tarven {

using MessageHook = std::function<void(QWidget* parent, const QString& text)>;

class MessageRoad {
public:
    // Shows `text` through the hook: by default the program's warning box,
    // which returns once OK is pressed. Call on the user-interface thread.
    void Show(QWidget* parent, const QString& text) const;

    // Installs `hook` (an empty function restores the warning box) and
    // returns the one it replaces.
    MessageHook SetHook(MessageHook hook);

private:
    MessageHook hook_;
};

}  // namespace tarven
