#include "MessageHook.h"

#include "MessageBox.h"

namespace tarven {

namespace {
MessageHook& CurrentHook() {
    static MessageHook hook;
    return hook;
}
}  // namespace

void ShowMessage(QWidget* parent, const QString& text) {
    // Copied, so a hook that replaces itself while it runs stays alive.
    const MessageHook hook = CurrentHook();
    if (hook)
        hook(parent, text);
    else
        ShowWarning(parent, text);
}

MessageHook SetMessageHook(MessageHook hook) {
    MessageHook previous = std::move(CurrentHook());
    CurrentHook() = std::move(hook);
    return previous;
}

}  // namespace tarven
