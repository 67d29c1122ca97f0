#include "MessageHook.h"

#include "MessageBox.h"

namespace tarven {

namespace {

void ShowThrough(const MessageHook& hook, QWidget* parent, const QString& text) {
    // Copied, so a hook that replaces itself while it runs stays alive.
    const MessageHook current = hook;
    if (current)
        current(parent, text);
    else
        ShowWarning(parent, text);
}

MessageHook& CurrentHook() {
    static MessageHook hook;
    return hook;
}

}  // namespace

void MessageRoad::Show(QWidget* parent, const QString& text) const { ShowThrough(hook_, parent, text); }

MessageHook MessageRoad::SetHook(MessageHook hook) {
    MessageHook previous = std::move(hook_);
    hook_ = std::move(hook);
    return previous;
}

void ShowMessage(QWidget* parent, const QString& text) { ShowThrough(CurrentHook(), parent, text); }

MessageHook SetMessageHook(MessageHook hook) {
    MessageHook previous = std::move(CurrentHook());
    CurrentHook() = std::move(hook);
    return previous;
}

}  // namespace tarven
