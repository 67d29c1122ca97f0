// The main window (template 102) on Windows: the template builds it; this
// view forwards the controls' notifications to MainWindowModel and draws
// what the model says. The system menu's About entry, the icon and the
// minimised drawing are Windows' own and live here.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <windows.h>
// after windows.h
#include <commctrl.h>

#include "ImageFiles.h"
#include "MainWindowModel.h"
#include "MainWindowView.h"
#include "ProgramState.h"
#include "SystemFileSystem.h"
#include "WinDialog.h"

namespace tarven::win {

class MainWindow : public WinDialog, public MainWindowView {
public:
    // `program` is main's: the state of the program's whole run. `ports`
    // are the ones the window lists and probes.
    MainWindow(ProgramState& program, PortMap ports);
    ~MainWindow() override;
    void Run();

    // MainWindowView: the dialogs it runs for the model.
    TransferOutcome RunTransfer(const RunRequest& request) override;
    std::optional<OverwriteAnswer> AskOverwrite(const std::string& fileName) override;
    std::optional<std::string> AskFolder(const std::string& current) override;
    std::optional<AccessLevel> AskPassword() override;
    void ShowAbout() override;
    void ShowMessage(const std::string& text) override;
    // MainWindowView: what the window's controls show.
    void ShowFields(const MainFields& fields) override;
    void ShowImages(const std::vector<std::string>& names, int selectedRow) override;
    void ShowPorts(const std::vector<PortEntry>& ports, int selectedRow) override;
    void CheckKind(ImageKind kind) override;
    void EnableControl(MainControl control, bool enabled) override;
    void FocusField(MainField field) override;
    void PostUpdateCommand() override;

protected:
    BOOL OnInitDialog() override;
    BOOL OnCommand(int id, int notification, HWND control) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    BOOL OnListNotification(int id, int notification);
    void AddAboutToSystemMenu();
    void PaintMinimised();
    void FillList(int id, const std::vector<std::string>& entries, int selectedRow);
    void AddPortTooltip();
    // The port list's tooltip: the device and adapter of the entry under the mouse.
    void PortTip(NMTTDISPINFOW& info);

    ProgramState& program_;
    PortMap ports_;
    HICON icon_ = nullptr;
    LocalImageFiles files_{SystemFileSystem()};
    std::unique_ptr<MainWindowModel> model_;
    std::vector<std::wstring> portTips_;  // one per entry of the port list
    bool running_ = false;                // a run holds its port: no probing meanwhile
};

}  // namespace tarven::win
