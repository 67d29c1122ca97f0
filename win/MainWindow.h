// The main window (template 102) on Windows: it builds nothing itself, the
// template does; it forwards the controls' notifications to the main window's
// model and draws what the model says. The system menu's About entry, the
// icon and the minimised drawing are Windows' own and live here.
#pragma once

#include "WinDialog.h"

namespace tarven::win {

class MainWindow : public WinDialog {
public:
    MainWindow();
    ~MainWindow() override;
    void Run();

protected:
    BOOL OnInitDialog() override;
    BOOL OnCommand(int id, int notification, HWND control) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void AddAboutToSystemMenu();
    void PaintMinimised();
    HICON icon_ = nullptr;
};

}  // namespace tarven::win
