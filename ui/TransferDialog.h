// The modal progress window that owns one link run: it starts the worker
// when it opens, follows its progress messages, and on every way of closing
// stops the worker and destroys the engine. The calling command reads
// versionReady, versionBlock, runResult and cancelled afterwards.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include <QDialog>

#include "LinkConstants.h"
#include "LinkNotifier.h"
#include "PortSettings.h"

namespace Ui {
class TransferDialog;
}

namespace tarven {

// The last total announced by any run of this program. Positions are counted
// against it, and it is deliberately not reset when a new run starts.
int ProgressTotalKb();
void SetProgressTotalKb(int totalKb);

class TransferDialog : public QDialog, public LinkNotifier {
    Q_OBJECT

public:
    TransferDialog(const PortSettings& settings, QWidget* parent);
    ~TransferDialog() override;

    PortSettings portSettings;
    // 1 once a version block has arrived; cleared by a cancel.
    std::int32_t versionReady = 0;
    // Before the run, 1 says the caller prepared a transfer (and its engine);
    // afterwards the result of the finishing message, or 0.
    std::int32_t runResult = 0;
    // An upload's doubt beside a result 1, copied from the engine with the finishing event.
    UploadDoubt uploadDoubt = UploadDoubt::None;
    std::array<std::uint8_t, kVersionBlockSize> versionBlock{};
    // The technician ended the run ("Annuler", Escape, the window's close).
    bool cancelled = false;

    // Handlers of WM_LINK_PROGRESS and WM_LINK_EVENT; both return 0.
    int OnLinkProgress(std::intptr_t code, std::intptr_t value);
    int OnLinkEvent(std::intptr_t code, std::intptr_t value);
    // Stops the worker, then destroys the live engine.
    void StopLink();

    // LinkNotifier: called by the worker thread.
    void PostLinkMessage(unsigned message, std::intptr_t wParam, std::intptr_t lParam) override;
    void ShowMessageBox(const std::string& text, std::stop_token stop) override;

    // What starts the worker (StartLinkWorker by default). Tests put their own
    // here to play the worker's part; returns the one it replaces.
    using WorkerStarter = std::function<int(LinkNotifier*)>;
    static WorkerStarter SetWorkerStarter(WorkerStarter starter);

    // The status line as composed (the label may show it shortened) and the counter.
    QString StatusText() const;
    QString CounterText() const;

public slots:
    void accept() override;
    void reject() override;

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void StartRun();
    void SetStatusLine(const QString& text);
    void CloseWithOk();
    // byUser: the technician's cancel, as opposed to an unexpected event code.
    void CloseWithCancel(bool byUser);

    std::unique_ptr<Ui::TransferDialog> ui_;
    bool started_ = false;     // the run was set off (the window has opened)
    bool finished_ = false;    // closed, or about to: later link messages are stale
    bool closePending_ = false;  // the short wait after a version block
    QString statusText_;       // the full status line, before it is fitted to the label
    bool barHeldEmpty_ = false;  // a total under 1 KB: the bar stays at its start
};

}  // namespace tarven
