#include "TransferModel.h"

#include "PortSettings.h"

#include <algorithm>
#include <cstdio>

namespace tarven {
namespace {

// After a version block the window stays up a moment, so the full bar is seen.
constexpr int kVersionCloseDelayMs = 200;
// The status text is composed in a buffer of this many characters, the
// terminating zero included: a text that fits it is always shown whole.
constexpr std::size_t kStatusTextBuffer = 52;

// Totals of 10 KB and less, and the version query's 100, move only the bar.
bool ShowsTransferText(std::int64_t totalKb) { return totalKb > 10 && totalKb != kVersionTotal; }

// The bar's range holds 16 bits; the counter keeps the full value.
int ProgressRangeMaximum(std::int64_t totalKb) { return static_cast<int>(totalKb & 0xFFFF); }

}  // namespace

std::string FormatKbCounter(std::int64_t positionKb, std::int64_t totalKb) {
    char text[32];
    std::snprintf(text, sizeof text, "%4d/%4d KB", static_cast<int>(positionKb), static_cast<int>(totalKb));
    return text;
}

TransferModel::TransferModel(TransferView& view, ProgramState& program, RunRequest request, SessionFactory sessions)
    : view_(view), program_(program), request_(std::move(request)), sessions_(std::move(sessions)) {}

TransferModel::~TransferModel() {
    if (!finished_) StopLink();
}

void TransferModel::Start(LinkNotifier& relay) {
    if (started_ || finished_) return;
    started_ = true;
    session_ = sessions_ ? sessions_(request_) : nullptr;
    if (session_ && session_->Start(&relay)) {
        view_.StartWatch(kWatchIntervalMs);
        return;
    }
    view_.ShowMessage("Fail to create Multi-Thread!");
    StopLink();
}

void TransferModel::StopLink() {
    // The worker stops before the session, and with it the port, goes.
    if (session_) session_->Stop();
    session_.reset();
}

void TransferModel::OnLinkEvent(const LinkEvent& event) {
    // Events still queued when the run has ended belong to nobody.
    if (finished_ || closePending_) return;
    if (const auto* progress = std::get_if<Progress>(&event)) {
        OnProgress(*progress);
    } else if (const auto* ready = std::get_if<VersionReady>(&event)) {
        outcome_.versionReady = true;
        outcome_.versionBlock = ready->block;
        // Until the delay is over, later events and the cancel button are not acted on.
        closePending_ = true;
        view_.StartCloseDelay(kVersionCloseDelayMs);
    } else {
        const Finished& finished = std::get<Finished>(event);
        outcome_.runResult = finished.result;
        outcome_.uploadDoubt = finished.doubt;
        outcome_.failure = finished.failure;
        OnOk();
    }
}

void TransferModel::OnProgress(const Progress& progress) {
    if (progress.step == Progress::Step::Total) {
        program_.SetProgressTotalKb(static_cast<int>(progress.kb));
        const int maximum = ProgressRangeMaximum(progress.kb);
        barMaximum_ = maximum;
        barHeldEmpty_ = maximum == 0;
        view_.SetBarRange(maximum);
        if (!ShowsTransferText(progress.kb)) return;
        view_.ShowCounter(FormatKbCounter(0, progress.kb));
        const std::string status = std::string(request_.mode == LinkMode::Upload ? "Sending" : "Receiving") + " " +
                                   request_.fileName + "...\n";
        view_.ShowStatus(status, status.size() < kStatusTextBuffer);
        return;
    }
    // The bar, like the one it stands for, holds positions inside its range.
    const std::int64_t top = barHeldEmpty_ ? 0 : barMaximum_;
    view_.SetBarPosition(static_cast<int>(std::clamp<std::int64_t>(progress.kb, 0, top)));
    if (!ShowsTransferText(program_.ProgressTotalKb())) return;
    view_.ShowCounter(FormatKbCounter(progress.kb, program_.ProgressTotalKb()));
}

void TransferModel::OnWatch() {
    if (finished_ || closePending_ || !session_ || !session_->DeviceGone()) return;
    finished_ = true;
    StopLink();
    // A failure, never a cancel: the command still says the transfer failed.
    outcome_ = TransferOutcome{};
    const int port = request_.portIndex;
    const std::string name = !request_.portName.empty()       ? request_.portName
                             : port >= 0 && port < kPortCount ? PortNames[std::size_t(port)]
                                                              : "The port";
    view_.ShowMessage(name + ": the device was removed");
    view_.EndDialog(false);
}

void TransferModel::OnCloseDelayOver() {
    closePending_ = false;
    OnOk();
}

void TransferModel::OnOk() {
    if (finished_) return;
    finished_ = true;
    closePending_ = false;
    StopLink();
    view_.EndDialog(true);
}

void TransferModel::OnCancel() {
    if (closePending_ || finished_) return;
    finished_ = true;
    StopLink();
    outcome_.versionReady = false;
    outcome_.cancelled = true;
    view_.EndDialog(false);
}

}  // namespace tarven
