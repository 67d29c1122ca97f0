// tarven-updater.exe: the technician's window, native on Windows. The program
// is the main window's modal run; it ends when that window closes.
#include <windows.h>
#include <commctrl.h>

#include "LinkNotifier.h"
#include "MainWindow.h"
#include "PortMap.h"
#include "WinMessageBox.h"

namespace {

// A worker that cannot be set up has no progress window to report to; its
// message still comes up as the program's message box.
class MessageSink : public tarven::LinkNotifier {
public:
    void OnLinkEvent(const tarven::LinkEvent&) override {}
    void ShowMessageBox(const std::string& text, std::stop_token stop) override {
        tarven::win::ShowMessageUntilStopped(GetActiveWindow(), text, stop);
    }
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS | ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    MessageSink sink;
    tarven::SetLinkMessageSink(&sink);
    // What the program keeps for its whole run lives here, and nowhere else.
    tarven::ProgramState program;
    tarven::win::MainWindow window(program, tarven::PortMap::Machine());
    window.Run();
    tarven::SetLinkMessageSink(nullptr);
    return 0;
}
