// The updater's one window, drawn with Qt: it builds its controls from
// template 102, forwards every notification to MainWindowModel, which makes
// all the decisions, and draws what the model says.
#pragma once

#include <array>
#include <memory>

#include <QDialog>

#include "ImageFiles.h"
#include "LinkConstants.h"
#include "LinkSession.h"
#include "MainWindowModel.h"
#include "MainWindowView.h"
#include "SystemFileSystem.h"
#include "UiProgram.h"

class QRadioButton;

namespace Ui {
class MainDialog;
}

namespace tarven {

class MainDialog : public QDialog, private MainWindowView {
    Q_OBJECT

public:
    // `program` outlives the window: the state and message road of the
    // program's run. `ports` are the ones the window lists and probes, and
    // the ones its runs open; `sessions` makes the link session of each run.
    MainDialog(UiProgram& program, const PortMap& ports, QWidget* parent = nullptr);
    MainDialog(UiProgram& program, const PortMap& ports, SessionFactory sessions, QWidget* parent = nullptr);
    ~MainDialog() override;

    MainWindowModel& Model() { return model_; }
    const MainWindowModel& Model() const { return model_; }

    // The OK command (Enter): closes only when the model allows it.
    void accept() override;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    // MainWindowView: drawing (MainDialog.cpp) and the dialogs it runs
    // (MainCommands.cpp).
    void ShowFields(const MainFields& fields) override;
    void CheckKind(ImageKind kind) override;
    void ShowPorts(const std::vector<PortEntry>& ports, int selectedRow) override;
    void ShowImages(const std::vector<std::string>& names, int selectedRow) override;
    void EnableControl(MainControl control, bool enabled) override;
    void FocusField(MainField field) override;
    void ShowMessage(const std::string& text) override;
    TransferOutcome RunTransfer(const RunRequest& request) override;
    std::optional<AccessLevel> AskPassword() override;
    std::optional<OverwriteAnswer> AskOverwrite(const std::string& fileName) override;
    std::optional<std::string> AskFolder(const std::string& current) override;
    void ShowAbout() override;
    void PostUpdateCommand() override;

    void ConnectControls();
    void ForwardPortSelection();
    void ForwardImageSelection();
    ImageKind CheckedKind() const;

    UiProgram& program_;
    std::unique_ptr<Ui::MainDialog> ui_;
    std::array<QRadioButton*, kKindCount> kindButtons_{};
    LocalImageFiles files_{SystemFileSystem()};
    SessionFactory sessions_;
    MainWindowModel model_;
};

}  // namespace tarven
