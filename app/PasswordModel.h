// The service password window's decision: one of three fixed passwords
// raises the access level for the rest of the program's run; anything else
// is refused and the window closes, so a retry starts from the main window.
#pragma once

#include <string>

#include "LinkConstants.h"

namespace tarven {

class PasswordView {
public:
    virtual ~PasswordView() = default;
    // A modal message box, as the main window's (MainWindowView::ShowMessage).
    virtual void ShowMessage(const std::string& text) = 0;
    // Ends the window: accepted (OK) or cancelled.
    virtual void Close(bool accepted) = 0;
};

class PasswordModel {
public:
    explicit PasswordModel(PasswordView& view) : view_(view) {}

    // The OK command with the text of edit 1003 (the edit itself turns typed
    // letters into capitals).
    void OnOk(const std::string& typed);

    // Valid once the window closed accepted.
    AccessLevel Level() const { return level_; }

private:
    PasswordView& view_;
    AccessLevel level_ = AccessLevel::Standard;
};

}  // namespace tarven
