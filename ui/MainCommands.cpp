// The main window's commands: version read, update, read-back, service
// access and the change of working folder. Each one checks what it needs,
// hands its run to a TransferDialog and tells the technician the outcome.
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

#include "CanOpenFile.h"
#include "FolderDialog.h"
#include "LinkEngine.h"
#include "MainDialog.h"
#include "MessageHook.h"
#include "OverwriteDialog.h"
#include "PasswordDialog.h"
#include "PortAccess.h"
#include "TransferDialog.h"
#include "UpdaterCore.h"
#include "ui_MainDialog.h"

namespace tarven {

namespace {

bool g_versionReminderShown = false;

}  // namespace

bool VersionReminderShown() { return g_versionReminderShown; }
void SetVersionReminderShown(bool shown) { g_versionReminderShown = shown; }

MainDialog::RunOutcome MainDialog::RunTransfer(LinkMode mode, const QString& fileName) {
    TransferDialog dialog(portSettings, this);
    dialog.runResult = 1;  // a prepared transfer: the dialog only starts the worker
    if (!LiveLinkEngine()) SetLiveLinkEngine(new LinkEngine(portSettings, mode));
    LinkEngine* engine = LiveLinkEngine();
    engine->fileName = QFile::encodeName(fileName).toStdString();
    engine->imageKind = imageKind;
    const bool upload = mode == kModeUpload;
    engine->sendingFlag = upload ? 1 : 0;
    // Only an upload's start codes depend on the access level.
    if (upload) engine->accessLevel = accessLevel;
    dialog.exec();
    return {dialog.runResult, dialog.cancelled, dialog.uploadDoubt};
}

// ---------------------------------------------------------------- version read

void MainDialog::OnReadVersion() {
    // No probe first: the version query finds a port by itself.
    TransferDialog dialog(portSettings, this);
    dialog.exec();
    if (dialog.versionReady != 1) return;
    receiverSoftwareVersion = VersionText(VersionBlockText(dialog.versionBlock, kVersionSoftwareOffset));
    receiverHardwareVersion = VersionText(VersionBlockText(dialog.versionBlock, kVersionHardwareOffset));
    PushFields();
}

// ---------------------------------------------------------------- update

void MainDialog::OnUpdateCommand() {
    if (receiverSoftwareVersion == QLatin1String("Unavailable") && !VersionReminderShown() &&
        imageKind == KindSoftware) {
        ShowMessage(this, QStringLiteral("Please Read Version first!"));
        SetVersionReminderShown(true);
        return;
    }
    if (!ProbePort(portSettings.wReserved)) {
        ShowMessage(this, QStringLiteral("Fail to Open COM port!"));
        return;
    }
    // The two-file sequence sends its files in list order, whatever is selected.
    const QString fileName = imageKind == KindFullX ? ImageNameAt(fullXStep) : SelectedImageName();
    if (fileName.isEmpty()) {
        ShowMessage(this, QStringLiteral("Please select a file first!"));
        return;
    }

    ++fullXStep;
    const RunOutcome run = RunTransfer(kModeUpload, fileName);
    const UpdateOutcome outcome = DecideUpdateOutcome(run.runResult, run.cancelled, imageKind, fullXStep);
    if (outcome.resetStep) fullXStep = 0;
    if (!outcome.message.isEmpty()) ShowMessage(this, outcome.message);
    // The protocol numbers no blocks: after a disturbed line the receiver may
    // hold a block twice or miss one, though the run counted as done.
    if (run.runResult == kResultSuccess && run.uploadDoubt != UploadDoubt::None)
        ShowMessage(this, QStringLiteral("\nThe line was disturbed during the transfer.\nThe receiver's copy of the "
                                         "image could not be confirmed: please check it, e.g. by reading the "
                                         "versions, and send the image again if in doubt.\n"));
    // Posted only once the box is closed, and handled after this handler has
    // returned: the second file goes through every check again.
    if (outcome.repeatCommand) QMetaObject::invokeMethod(this, &MainDialog::OnUpdateCommand, Qt::QueuedConnection);
}

// ---------------------------------------------------------------- read-back

void MainDialog::OnReadBack() {
    // The receiver has no read-back request for the chip kinds; asking would
    // leave it waiting for a request it does not know.
    if (!ReadBackSupported(imageKind)) {
        ShowMessage(this, QStringLiteral("Read-back is not available for this image kind."));
        return;
    }
    if (!ProbePort(portSettings.wReserved)) {
        ShowMessage(this, QStringLiteral("Fail to Open COM port!"));
        return;
    }
    readBackFileName = QString::fromStdString(tarven::ReadBackFileName(imageKind));
    if (CanOpenFile(readBackFileName, true, false, this)) {
        OverwriteDialog overwrite(readBackFileName, this);
        if (overwrite.exec() != QDialog::Accepted) return;
        // The dialog's folder button may have moved the current directory.
        workFolder = QDir::currentPath();
        if (overwrite.Choice() == kRename) readBackFileName = overwrite.NewName();
    }
    // Received into a pipe or a device, the image would hold the worker in a
    // write nobody reads, and the window with it once the run is stopped.
    if (IsSpecialFile(QFile::encodeName(readBackFileName).toStdString())) {
        ShowMessage(this, readBackFileName + QStringLiteral("\nNot a regular file !"));
        return;
    }

    const RunOutcome run = RunTransfer(kModeReadBack, readBackFileName);
    if (run.runResult == kResultSuccess) {
        ShowMessage(this, QStringLiteral("Transfer Successfully!"));
        RefreshImageList();
    } else if (run.runResult == kResultLengthMismatch) {
        ShowMessage(this, QStringLiteral("\nTransfer Error!, Please try again!\n"));
    }
}

// ---------------------------------------------------------------- service access

void MainDialog::OnServiceAccess() {
    PasswordDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted) return;
    ui_->buttonPassword->setEnabled(false);
    ui_->radioSoftwareDataLoader->setEnabled(true);
    accessLevel = dialog.level;
    RefreshImageList();
}

// ---------------------------------------------------------------- working folder

void MainDialog::OnChangeFolder() {
    FolderDialog dialog(this, workFolder);
    if (dialog.exec() != QDialog::Accepted) return;
    workFolder = dialog.SelectedPath();
    PushFields();
    RefreshImageList();
}

}  // namespace tarven
