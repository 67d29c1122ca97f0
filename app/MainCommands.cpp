// The main window's commands: version read, update, read-back and service
// access. Each one checks what it needs, hands its run to the progress
// dialog and tells the technician the outcome.
#include "CommandOutcomes.h"
#include "MainWindowModel.h"
#include "VersionBlock.h"

namespace tarven {

TransferOutcome MainWindowModel::RunTransfer(LinkMode mode, const std::string& fileName, AccessLevel level) {
    return view_.RunTransfer(
        RunRequest{mode, portSettings.portIndex, fileName, imageKind, level, portSettings.portName});
}

// ---------------------------------------------------------------- version read

void MainWindowModel::OnReadVersion() {
    // No probe first: the version query finds a port by itself.
    const TransferOutcome run = RunTransfer(LinkMode::VersionQuery, {}, AccessLevel::Standard);
    if (!run.versionReady) return;
    fields.receiverSoftwareVersion = SoftwareVersion(run.versionBlock);
    fields.receiverHardwareVersion = HardwareVersion(run.versionBlock);
    PushFields();
}

// ---------------------------------------------------------------- update

void MainWindowModel::OnUpdateCommand() {
    if (fields.receiverSoftwareVersion == kUnavailableText && !program_.VersionReminderShown() &&
        imageKind == ImageKind::Software) {
        view_.ShowMessage(kReadVersionFirstText);
        program_.SetVersionReminderShown(true);
        return;
    }
    if (!ChosenPortOpens()) {
        view_.ShowMessage(kPortFailedText);
        return;
    }
    // The two-file sequence sends its files in list order, whatever is selected.
    const std::string fileName = TwoFileKind() ? ImageNameAt(fullXStep) : SelectedImageName();
    if (fileName.empty()) {
        view_.ShowMessage(kSelectFileText);
        return;
    }

    ++fullXStep;
    // Only an upload's start codes depend on the access level.
    const TransferOutcome run = RunTransfer(LinkMode::Upload, fileName, accessLevel);
    const UpdateOutcome outcome = DecideUpdateOutcome(run.runResult, run.cancelled, imageKind, fullXStep);
    if (outcome.resetStep) fullXStep = 0;
    if (!outcome.message.empty()) view_.ShowMessage(outcome.message);
    // The protocol numbers no blocks: after a disturbed line the receiver may
    // hold a block twice or miss one, though the run counted as done.
    if (run.runResult == kResultSuccess && run.uploadDoubt != UploadDoubt::None)
        view_.ShowMessage(OutcomeText(Outcome::UploadUnconfirmed));
    // Posted only once the box is closed, and handled after this handler has
    // returned: the second file goes through every check again.
    if (outcome.repeatCommand) view_.PostUpdateCommand();
}

// ---------------------------------------------------------------- read-back

void MainWindowModel::OnReadBack() {
    // The receiver has no read-back request for the chip kinds; asking would
    // leave it waiting for a request it does not know.
    if (!Rules(imageKind).readBackRequest) {
        view_.ShowMessage(kReadBackRefusedText);
        return;
    }
    if (!ChosenPortOpens()) {
        view_.ShowMessage(kPortFailedText);
        return;
    }
    readBackFileName = Rules(imageKind).readBackFile;
    if (files_.CanOpenForReading(readBackFileName)) {
        const std::optional<OverwriteAnswer> answer = view_.AskOverwrite(readBackFileName);
        if (!answer) return;
        // The dialog's folder button may have moved the current directory.
        fields.workFolder = files_.CurrentFolder();
        if (answer->rename) readBackFileName = answer->newName;
    }
    // Received into a pipe or a device, the image would hold the worker in a
    // write nobody reads, and the window with it once the run is stopped.
    if (files_.IsSpecialFile(readBackFileName)) {
        view_.ShowMessage(readBackFileName + kNotRegularFileText);
        return;
    }

    const TransferOutcome run = RunTransfer(LinkMode::ReadBack, readBackFileName, AccessLevel::Standard);
    const std::string message = ReadBackOutcomeText(run.runResult);
    if (!message.empty()) view_.ShowMessage(message);
    // The new file is listed when it fits the kind's sizes.
    if (run.runResult == kResultSuccess) RefreshImageList();
}

// ---------------------------------------------------------------- service access

void MainWindowModel::OnServiceAccess() {
    const std::optional<AccessLevel> level = view_.AskPassword();
    if (!level) return;
    view_.EnableControl(MainControl::ServiceAccess, false);
    view_.EnableControl(MainControl::LoaderKind, true);
    accessLevel = *level;
    RefreshImageList();
}

}  // namespace tarven
