// The service password window (template 131) over PasswordModel.
#pragma once

#include <optional>

#include "LinkConstants.h"
#include "PasswordModel.h"
#include "WinDialog.h"

namespace tarven::win {

class PasswordWindow : public WinDialog, public PasswordView {
public:
    PasswordWindow() : model_(*this) {}
    // The level granted, or nothing when the window was cancelled.
    std::optional<AccessLevel> Run(HWND owner);

    void ShowMessage(const std::string& text) override;
    void Close(bool accepted) override;

protected:
    BOOL OnInitDialog() override { return TRUE; }
    BOOL OnCommand(int id, int notification, HWND control) override;

private:
    PasswordModel model_;
};

}  // namespace tarven::win
