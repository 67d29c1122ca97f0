// The About box (template 100): the icon, two credit lines and "MERCI".
#pragma once

#include "WinDialog.h"

namespace tarven::win {

class AboutWindow : public WinDialog {
public:
    void Run(HWND owner);

protected:
    BOOL OnInitDialog() override { return TRUE; }
    BOOL OnCommand(int id, int notification, HWND control) override;
};

}  // namespace tarven::win
