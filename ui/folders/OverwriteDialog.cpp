#include "OverwriteDialog.h"

#include "DialogUnits.h"
#include "FileSystem.h"
#include "FolderDialog.h"
#include "FolderMessages.h"
#include "MessageBox.h"
#include "SystemFileSystem.h"
#include "ui_OverwriteDialog.h"

#include <QShortcut>

namespace tarven {

OverwriteDialog::OverwriteDialog(const MessageRoad& messages, const QString& fileName, QWidget* owner)
    : QDialog(owner), messages_(messages), ui_(std::make_unique<Ui::OverwriteDialog>()) {
    ui_->setupUi(this);
    ApplyDialogUnits(this);
    model_ = std::make_unique<OverwriteModel>(*this, ToPath(fileName), SystemFileSystem().CurrentFolder());

    connect(ui_->overwriteRadio, &QRadioButton::clicked, this,
            [this] { model_->OnChoiceClicked(kFirstChoiceId + kOverwrite); });
    connect(ui_->renameRadio, &QRadioButton::clicked, this,
            [this] { model_->OnChoiceClicked(kFirstChoiceId + kRename); });
    connect(ui_->okButton, &QPushButton::clicked, this, &OverwriteDialog::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &OverwriteDialog::reject);
    connect(ui_->changeFolderButton, &QPushButton::clicked, this, [this] { model_->OnChangeFolder(); });
    connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this,
            [this] { ShowFolderHelp(this); });

    // The template writes the rename caption as "Renommer" and a CR/LF, a
    // leftover that Windows swallows; a Qt radio button would draw it as a
    // second, empty line, so the .ui holds "Renommer" alone.
    //
    // Qt centres a dialog over its owner's window when it is first shown.
    model_->Open();
}

OverwriteDialog::~OverwriteDialog() = default;

QString OverwriteDialog::NewName() const { return FromPath(model_->NewName()); }

QString OverwriteDialog::WorkingFolder() const { return FromPath(model_->WorkingFolder()); }

void OverwriteDialog::ShowCaption(const std::string& text) { ui_->captionLine->setText(FromPath(text)); }

void OverwriteDialog::ShowWorkingFolder(const std::string& path) { ui_->workingFolderLine->setText(FromPath(path)); }

void OverwriteDialog::CheckChoice(int choice) {
    (choice == kRename ? ui_->renameRadio : ui_->overwriteRadio)->setChecked(true);
}

void OverwriteDialog::ShowNewNameField(bool visible) { ui_->newNameEdit->setVisible(visible); }

void OverwriteDialog::SetNewName(const std::string& name) { ui_->newNameEdit->setText(FromPath(name)); }

std::string OverwriteDialog::ReadNewName() { return ToPath(ui_->newNameEdit->text()); }

std::optional<std::string> OverwriteDialog::AskFolder(const std::string& startFolder) {
    FolderDialog browser(messages_, this, FromPath(startFolder));
    if (browser.exec() != QDialog::Accepted) return std::nullopt;
    return ToPath(browser.SelectedPath());
}

void OverwriteDialog::ShowMessage(const std::string& text) { messages_.Show(this, FromPath(text)); }

void OverwriteDialog::Close(FolderDialogResult result) {
    if (result == FolderDialogResult::kOk) {
        QDialog::accept();
    } else {
        QDialog::reject();
    }
}

void OverwriteDialog::accept() { model_->OnOk(); }

void OverwriteDialog::reject() { model_->OnCancel(); }

}  // namespace tarven
