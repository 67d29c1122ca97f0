// The progress window (template 404) drawn with Qt: it forwards the worker's
// events and the technician's keys to TransferModel, and draws what the model
// says. The calling command reads Outcome() after the modal run.
#pragma once

#include <memory>

#include <QDialog>

#include "LinkNotifier.h"
#include "LinkSession.h"
#include "TransferModel.h"
#include "UiProgram.h"

namespace Ui {
class TransferDialog;
}

namespace tarven {

class TransferDialog : public QDialog, public TransferView, public LinkNotifier {
    Q_OBJECT

public:
    // `sessions` makes the run's session once the dialog is up; `program`
    // is the program's, whose road the dialog's and the worker's boxes take.
    TransferDialog(UiProgram& program, const RunRequest& request, SessionFactory sessions, QWidget* parent);
    ~TransferDialog() override;

    const TransferOutcome& Outcome() const { return model_.Outcome(); }

    // LinkNotifier: called by the worker thread; queued for the window's thread.
    void OnLinkEvent(const LinkEvent& event) override;
    void ShowMessageBox(const std::string& text, std::stop_token stop) override;

    // TransferView.
    void ShowStatus(const std::string& text, bool keepWhole) override;
    void ShowCounter(const std::string& text) override;
    void SetBarRange(int maximum) override;
    void SetBarPosition(int position) override;
    void ShowMessage(const std::string& text) override;
    void StartCloseDelay(int ms) override;
    void StartWatch(int ms) override;
    void EndDialog(bool accepted) override;

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
    UiProgram& program_;
    std::unique_ptr<Ui::TransferDialog> ui_;
    TransferModel model_;
    bool shown_ = false;
    QString statusText_;  // the full status line, before it is fitted to the label
};

}  // namespace tarven
