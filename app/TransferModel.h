// The progress dialog's decisions: it creates and starts the run's session
// when the dialog opens, turns the worker's events into the counter, the
// status line and the bar, and on every way of closing stops the worker and
// destroys the session. The calling command reads Outcome() afterwards.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "LinkConstants.h"
#include "LinkEvents.h"
#include "LinkNotifier.h"
#include "LinkSession.h"
#include "ProgramState.h"

namespace tarven {

// How a run ended, as the calling command sees it.
struct TransferOutcome {
    int runResult = kResultFailure;               // the finishing event's result; 0 when none came
    bool cancelled = false;                       // the technician ended the run
    UploadDoubt uploadDoubt = UploadDoubt::None;  // beside a result 1
    RunFailure failure{};                         // beside a result other than 1
    bool versionReady = false;
    std::array<std::uint8_t, kVersionBlockSize> versionBlock{};
};

// What the model asks of whatever draws the dialog (template 404).
class TransferView {
public:
    virtual ~TransferView() = default;
    // The status line (label -1) as composed, line break included. keepWhole:
    // the text fits the design's 52-character buffer, so the technician must
    // see all of it (on two lines if need be); a longer one may be shortened.
    virtual void ShowStatus(const std::string& text, bool keepWhole) = 0;
    virtual void ShowCounter(const std::string& text) = 0;  // label 1005
    // The bar's range is 0..maximum; a maximum of 0 is a bar held still and empty.
    virtual void SetBarRange(int maximum) = 0;
    virtual void SetBarPosition(int position) = 0;
    // A modal message box; returns once it is closed.
    virtual void ShowMessage(const std::string& text) = 0;
    // Calls TransferModel::OnCloseDelayOver after `ms`, without blocking the window.
    virtual void StartCloseDelay(int ms) = 0;
    // Calls TransferModel::OnWatch every `ms` until the dialog ends.
    virtual void StartWatch(int ms) = 0;
    // Ends the modal run: accepted (OK) or cancelled.
    virtual void EndDialog(bool accepted) = 0;
};

// "%4d/%4d KB".
std::string FormatKbCounter(std::int64_t positionKb, std::int64_t totalKb);

class TransferModel {
public:
    // The bar's range in the template, until a run announces its total.
    static constexpr int kInitialBarMaximum = 100;

    // `sessions` makes the run's session when the dialog opens.
    // Positions are counted against the last total any run of the program
    // announced (kept in `program`), deliberately not reset when a run starts.
    TransferModel(TransferView& view, ProgramState& program, RunRequest request, SessionFactory sessions);
    // Stops a run still going: the worker reports to the view, which goes next.
    ~TransferModel();
    TransferModel(const TransferModel&) = delete;
    TransferModel& operator=(const TransferModel&) = delete;

    // When the dialog has opened: makes the session and starts its worker, which
    // reports to `relay` (the view's hop onto its own thread). A worker that
    // cannot start is reported; the dialog then waits for "Annuler".
    void Start(LinkNotifier& relay);
    // An event of this run, on the window's thread.
    void OnLinkEvent(const LinkEvent& event);
    // "Annuler" or Escape.
    void OnCancel();
    // The OK command (Enter while no button has the focus).
    void OnOk();
    void OnCloseDelayOver();
    // The view's watch: a port whose device has gone ends the run at once,
    // rather than after the protocol's time-outs (or never, for a version read).
    void OnWatch();
    // How often the view calls OnWatch.
    static constexpr int kWatchIntervalMs = 250;

    const TransferOutcome& Outcome() const { return outcome_; }
    bool Ended() const { return finished_; }

private:
    void OnProgress(const Progress& progress);
    void StopLink();

    TransferView& view_;
    ProgramState& program_;
    RunRequest request_;
    SessionFactory sessions_;
    std::unique_ptr<SessionControl> session_;
    TransferOutcome outcome_;
    bool started_ = false;
    bool finished_ = false;      // closed, or about to: later events are stale
    bool closePending_ = false;  // the short wait after a version block
    int barMaximum_ = kInitialBarMaximum;
    bool barHeldEmpty_ = false;  // a total under 1 KB: the bar stays at its start
};

}  // namespace tarven
