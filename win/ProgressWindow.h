// The progress dialog (template 404) over TransferModel. The worker's events
// reach it as real window messages, the design's WM_LINK_PROGRESS and
// WM_LINK_EVENT, posted from the worker thread; the model decides what each
// one shows.
#pragma once

#include "LinkNotifier.h"
#include "LinkSession.h"
#include "TransferModel.h"
#include "WinDialog.h"

namespace tarven::win {

class ProgressWindow : public WinDialog, public TransferView, public LinkNotifier {
public:
    ProgressWindow(ProgramState& program, const RunRequest& request, SessionFactory sessions)
        : model_(*this, program, request, std::move(sessions)) {}
    // Runs the dialog modally over `owner` and returns how the run ended.
    TransferOutcome Run(HWND owner);

    // TransferView: the bar first, then the two texts, then the dialog itself.
    void SetBarRange(int maximum) override;
    void SetBarPosition(int position) override;
    void ShowCounter(const std::string& text) override;
    void ShowStatus(const std::string& text, bool keepWhole) override;
    void EndDialog(bool accepted) override;
    void StartCloseDelay(int ms) override;
    void StartWatch(int ms) override;
    void ShowMessage(const std::string& text) override;

    // LinkNotifier: called on the worker thread.
    void OnLinkEvent(const LinkEvent& event) override;
    void ShowMessageBox(const std::string& text, std::stop_token stop) override;

protected:
    BOOL OnInitDialog() override;
    BOOL OnCommand(int id, int notification, HWND control) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void DropQueuedEvents();
    TransferModel model_;
};

}  // namespace tarven::win
