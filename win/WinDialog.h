// One C++ object per dialog template: the dialog procedure finds the object
// that runs the template and hands it each message. Derived views answer only
// the messages they care about.
#pragma once

#include <windows.h>

namespace tarven::win {

class WinDialog {
public:
    virtual ~WinDialog() = default;
    // Runs the template modally over `owner`; returns what EndDialog was given.
    INT_PTR RunModal(HWND owner, int templateId);
    HWND Handle() const { return handle_; }

protected:
    // Return TRUE when the message was handled (FALSE: the default handling).
    virtual BOOL OnInitDialog() = 0;
    virtual BOOL OnCommand(int id, int notification, HWND control) = 0;
    virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void End(INT_PTR result) { EndDialog(handle_, result); }

private:
    static INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    HWND handle_ = nullptr;
};

// The program's instance, for loading resources.
HINSTANCE Instance();

}  // namespace tarven::win
