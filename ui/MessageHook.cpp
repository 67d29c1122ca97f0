#include "MessageHook.h"

#include "MessageBox.h"

namespace tarven {

void MessageRoad::Show(QWidget* parent, const QString& text) const {
    // Copied, so a hook that replaces itself while it runs stays alive.
    const MessageHook hook = hook_;
    if (hook) hook(parent, text);
    else ShowWarning(parent, text);
}

MessageHook MessageRoad::SetHook(MessageHook hook) {
    MessageHook previous = std::move(hook_);
    hook_ = std::move(hook);
    return previous;
}

}  // namespace tarven
