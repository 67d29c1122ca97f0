// The updater's one window: the technician's choices (port, image kind,
// working folder, image file, access level), the versions read from the
// receiver and found in the selected image, and the buttons that start the
// version read, the update, the read-back and the service access.
#pragma once

#include <array>
#include <memory>

#include <QDialog>
#include <QString>

#include "LinkConstants.h"
#include "PortSettings.h"

class QAction;
class QRadioButton;

namespace Ui {
class MainDialog;
}

namespace tarven {

// The "Please Read Version first!" reminder is given once per program run.
bool VersionReminderShown();
void SetVersionReminderShown(bool shown);

// The window's context menu entry that opens the About box, as the receiver
// tool's system menu had it (string 101, command 16).
QString AboutMenuText();
inline constexpr int kAboutCommand = 16;

class MainDialog : public QDialog {
    Q_OBJECT

public:
    explicit MainDialog(QWidget* parent = nullptr);
    ~MainDialog() override;

    // The choices, for whoever needs to look (the tests among them).
    int ImageKind() const { return imageKind; }
    AccessLevel Access() const { return accessLevel; }
    int FullXStep() const { return fullXStep; }
    const PortSettings& Settings() const { return portSettings; }
    QString WorkFolder() const { return workFolder; }
    QString ReadBackFileName() const { return readBackFileName; }

public slots:
    // Button and list handlers, one per notification.
    void OnChangeFolder();
    void OnKindChanged();
    void OnUpdateCommand();
    void OnReadVersion();
    void OnPortSelected();
    void OnNote();
    void OnServiceAccess();
    void OnReadBack();
    void ShowImageVersions();

    // Lists the files of the working folder that fit the chosen kind.
    void RefreshImageList();

    // A command of the window's menu; 16 (any low four bits) is About.
    void OnSysCommand(int command);

    // The OK command (Enter): reads the fields back, refusing texts over
    // their limits, then closes.
    void accept() override;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void InitControls();
    void FillPortList();
    void PushFields();
    bool PullFields();
    QRadioButton* KindButton(int kind) const;
    int CheckedKind() const;
    QString SelectedImageName() const;
    QString ImageNameAt(int row) const;
    // Runs an upload or a read-back of `fileName` through a TransferDialog.
    struct RunOutcome {
        int runResult = 0;
        bool cancelled = false;
        UploadDoubt uploadDoubt = UploadDoubt::None;
    };
    RunOutcome RunTransfer(LinkMode mode, const QString& fileName);

    std::unique_ptr<Ui::MainDialog> ui_;
    std::array<QRadioButton*, kKindCount> kindButtons_{};
    QAction* aboutAction_ = nullptr;

    // Fields, as the controls show them after PushFields.
    QString workFolder;
    QString receiverSoftwareVersion;
    QString receiverHardwareVersion;
    QString readBackFileName;
    QString imageHardwareVersion;
    QString imageSoftwareVersion;
    AccessLevel accessLevel = AccessLevel::Standard;
    int fullXStep = 0;
    PortSettings portSettings;
    int imageKind = KindFullImage;
};

}  // namespace tarven
