#include "NewFolderDialog.h"

#include "DialogUnits.h"
#include "FolderMessages.h"
#include "MessageBox.h"
#include "SystemFileSystem.h"
#include "ui_NewFolderDialog.h"

#include <QShortcut>

namespace tarven {

NewFolderDialog::NewFolderDialog(const MessageRoad& messages, const QString& parentFolder, QWidget* owner)
    : QDialog(owner), messages_(messages), ui_(std::make_unique<Ui::NewFolderDialog>()) {
    ui_->setupUi(this);
    ApplyDialogUnits(this);
    model_ = std::make_unique<NewFolderModel>(SystemFileSystem(), *this, ToPath(parentFolder));

    ui_->nameEdit->setMaxLength(int(kFolderNameLimit));
    ui_->nameEdit->clear();
    model_->Open();
    // Connected only now, so that filling the field above is no change of
    // the user's.
    connect(ui_->nameEdit, &QLineEdit::textChanged, this, [this] { model_->OnNameChanged(); });
    connect(ui_->okButton, &QPushButton::clicked, this, &NewFolderDialog::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &NewFolderDialog::reject);
    connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this,
            [this] { ShowFolderHelp(this); });
    ui_->nameEdit->setFocus();
}

NewFolderDialog::~NewFolderDialog() = default;

QString NewFolderDialog::CreatedPath() const { return FromPath(model_->CreatedPath()); }

void NewFolderDialog::EnableOk(bool enabled) { ui_->okButton->setEnabled(enabled); }

std::string NewFolderDialog::ReadName() { return ToPath(ui_->nameEdit->text()); }

void NewFolderDialog::ShowMessage(const std::string& text) { messages_.Show(this, FromPath(text)); }

void NewFolderDialog::Close(FolderDialogResult result) {
    if (result == FolderDialogResult::kOk) {
        QDialog::accept();
    } else {
        QDialog::reject();
    }
}

void NewFolderDialog::accept() { model_->OnOk(); }

void NewFolderDialog::reject() { model_->OnCancel(); }

}  // namespace tarven
