#include "ProgressWindow.h"

#include <windows.h>
#include <commctrl.h>

#include <memory>

#include "DesignFacade.h"
#include "ResourceIds.h"
#include "WinMessageBox.h"
#include "WinText.h"

namespace tarven::win {

namespace {

constexpr UINT_PTR kCloseDelayTimer = 1;
constexpr UINT_PTR kWatchTimer = 2;

}  // namespace

TransferOutcome ProgressWindow::Run(HWND owner) {
    RunModal(owner, IDD_TRANSFER);
    return model_.Outcome();
}

BOOL ProgressWindow::OnInitDialog() {
    model_.Start(*this);
    return TRUE;
}

BOOL ProgressWindow::OnCommand(int id, int, HWND) {
    if (id == IDCANCEL) model_.OnCancel();
    else if (id == IDOK) model_.OnOk();
    else return FALSE;
    return TRUE;
}

INT_PTR ProgressWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_LINK_EVENT:
        case WM_LINK_PROGRESS: {
            const std::unique_ptr<LinkEvent> event(reinterpret_cast<LinkEvent*>(lParam));
            model_.OnLinkEvent(*event);
            return TRUE;
        }
        case WM_TIMER:
            if (wParam == kWatchTimer) {
                model_.OnWatch();
                return TRUE;
            }
            KillTimer(Handle(), kCloseDelayTimer);
            model_.OnCloseDelayOver();
            return TRUE;
        case WM_DESTROY: DropQueuedEvents(); return FALSE;
        default: return FALSE;
    }
}

// Events still queued when the window goes are not handled, but each holds a copy to free.
void ProgressWindow::DropQueuedEvents() {
    MSG message;
    while (PeekMessageW(&message, Handle(), WM_LINK_EVENT, WM_LINK_PROGRESS, PM_REMOVE)) {
        delete reinterpret_cast<LinkEvent*>(message.lParam);
    }
}

// The design's message and wParam; the event itself rides in lParam.
void ProgressWindow::OnLinkEvent(const LinkEvent& event) {
    auto copy = std::make_unique<LinkEvent>(event);
    const DesignMessage design = DesignMessageOf(event);
    if (PostMessageW(Handle(), design.message, static_cast<WPARAM>(design.wParam),
                     reinterpret_cast<LPARAM>(copy.get()))) {
        copy.release();
    }
}

void ProgressWindow::ShowMessageBox(const std::string& text, std::stop_token stop) {
    ShowMessageUntilStopped(Handle(), text, stop);
}

void ProgressWindow::ShowStatus(const std::string& text, bool) {
    // The label wraps at word boundaries, so a whole line that does not fit stays readable.
    SetDlgItemTextW(Handle(), IDC_STATIC, Widen(text).c_str());
}

void ProgressWindow::ShowCounter(const std::string& text) { SetControlText(Handle(), IDC_COUNTER, text); }

void ProgressWindow::SetBarRange(int maximum) {
    SendDlgItemMessageW(Handle(), IDC_PROGRESS, PBM_SETRANGE32, 0, maximum);
}

void ProgressWindow::SetBarPosition(int position) {
    SendDlgItemMessageW(Handle(), IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void ProgressWindow::ShowMessage(const std::string& text) { win::ShowMessage(Handle(), text); }

void ProgressWindow::StartWatch(int ms) { SetTimer(Handle(), kWatchTimer, static_cast<UINT>(ms), nullptr); }

void ProgressWindow::StartCloseDelay(int ms) { SetTimer(Handle(), kCloseDelayTimer, static_cast<UINT>(ms), nullptr); }

void ProgressWindow::EndDialog(bool accepted) { End(accepted ? IDOK : IDCANCEL); }

}  // namespace tarven::win
