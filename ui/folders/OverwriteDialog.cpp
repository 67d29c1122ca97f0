#include "OverwriteDialog.h"

#include "DialogUnits.h"
#include "FolderDialog.h"
#include "FolderMessages.h"
#include "FolderPaths.h"
#include "MessageBox.h"
#include "ui_OverwriteDialog.h"

#include <QDir>
#include <QShortcut>

namespace tarven {

namespace {

constexpr int kFirstChoiceId = 11965;

}  // namespace

OverwriteDialog::OverwriteDialog(const QString& fileName, QWidget* owner)
    : QDialog(owner),
      ui_(std::make_unique<Ui::OverwriteDialog>()),
      workingFolder_(QDir::currentPath().left(kStartPathLimit)),
      captionLine_(fileName + QStringLiteral(" already exists")),
      newName_(fileName) {
    ui_->setupUi(this);
    ApplyDialogUnits(this);

    connect(ui_->overwriteRadio, &QRadioButton::clicked, this, [this] { OnChoiceClicked(kFirstChoiceId + kOverwrite); });
    connect(ui_->renameRadio, &QRadioButton::clicked, this, [this] { OnChoiceClicked(kFirstChoiceId + kRename); });
    connect(ui_->okButton, &QPushButton::clicked, this, &OverwriteDialog::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &OverwriteDialog::reject);
    connect(ui_->changeFolderButton, &QPushButton::clicked, this, &OverwriteDialog::OnChangeFolder);
    connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this,
            [this] { ShowFolderHelp(this); });

    // The template writes the rename caption as "Renommer" and a CR/LF, a
    // leftover that Windows swallows; a Qt radio button would draw it as a
    // second, empty line, so the .ui holds "Renommer" alone.
    //
    // Qt centres a dialog over its owner's window when it is first shown.
    (choice_ == kRename ? ui_->renameRadio : ui_->overwriteRadio)->setChecked(true);
    ui_->newNameEdit->setVisible(choice_ == kRename);
    Refresh();
}

OverwriteDialog::~OverwriteDialog() = default;

void OverwriteDialog::Refresh() {
    ui_->captionLine->setText(captionLine_);
    ui_->workingFolderLine->setText(workingFolder_);
    if (choice_ == kRename) ui_->newNameEdit->setText(newName_);
}

void OverwriteDialog::OnChoiceClicked(int radioId) {
    choice_ = radioId - kFirstChoiceId;
    ui_->newNameEdit->setVisible(choice_ == kRename);
    Refresh();
}

void OverwriteDialog::OnChangeFolder() {
    FolderDialog browser(this, workingFolder_);
    if (browser.exec() != QDialog::Accepted) return;
    workingFolder_ = browser.SelectedPath();
    Refresh();
}

void OverwriteDialog::accept() {
    if (choice_ == kRename) {
        newName_ = ui_->newNameEdit->text();
        if (newName_.isEmpty()) {
            ShowFolderWarning(this, QStringLiteral("Invalid file name!"));
            return;
        }
    }
    QDialog::accept();
}

}  // namespace tarven
