// The dialogs the main window's model asks for: the progress dialog of a
// run, the service password, overwrite-or-rename, the folder browser and the
// About box. Each runs modally and hands back what the technician chose.
#include <QFile>

#include "AboutDialog.h"
#include "FolderDialog.h"
#include "MainDialog.h"
#include "OverwriteDialog.h"
#include "PasswordDialog.h"
#include "TransferDialog.h"

namespace tarven {

TransferOutcome MainDialog::RunTransfer(const RunRequest& request) {
    TransferDialog dialog(program_, request, sessions_, this);
    dialog.exec();
    return dialog.Outcome();
}

std::optional<AccessLevel> MainDialog::AskPassword() {
    PasswordDialog dialog(program_.Messages(), this);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Level();
}

std::optional<OverwriteAnswer> MainDialog::AskOverwrite(const std::string& fileName) {
    OverwriteDialog dialog(program_.Messages(), QString::fromUtf8(fileName), this);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return OverwriteAnswer{dialog.Choice() == kRename, QFile::encodeName(dialog.NewName()).toStdString()};
}

std::optional<std::string> MainDialog::AskFolder(const std::string& current) {
    FolderDialog dialog(program_.Messages(), this, QString::fromUtf8(current));
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return QFile::encodeName(dialog.SelectedPath()).toStdString();
}

void MainDialog::ShowAbout() {
    AboutDialog about(this);
    about.exec();
}

void MainDialog::PostUpdateCommand() {
    QMetaObject::invokeMethod(
        this, [this] { model_.OnUpdateCommand(); }, Qt::QueuedConnection);
}

}  // namespace tarven
