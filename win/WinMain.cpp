// tarven-updater.exe: the technician's window, native on Windows. The program
// is the main window's modal run; it ends when that window closes.
#include <windows.h>
#include <commctrl.h>

#include "MainWindow.h"
#include "PortMap.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS | ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    // What the program keeps for its whole run lives here, and nowhere else.
    tarven::ProgramState program;
    tarven::win::MainWindow window(program, tarven::PortMap::Machine());
    window.Run();
    return 0;
}
