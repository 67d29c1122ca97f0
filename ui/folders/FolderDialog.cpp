#include "FolderDialog.h"

#include "DialogUnits.h"
#include "FolderMessages.h"
#include "FolderTree.h"
#include "MessageBox.h"
#include "NewFolderDialog.h"
#include "SystemFileSystem.h"
#include "ui_FolderDialog.h"

#include <QShortcut>

#include <algorithm>

namespace tarven {

namespace {

// Windows drop-down lists count their dropped height from the top of the
// closed box; Qt asks for a number of visible entries instead.
void FitDriveList(QComboBox* combo) {
    const int droppedHeight = combo->height();
    combo->resize(combo->width(), combo->sizeHint().height());
    const int rowHeight = std::max(1, combo->fontMetrics().height() + 2);
    combo->setMaxVisibleItems(std::max(1, (droppedHeight - combo->height()) / rowHeight));
}

}  // namespace

FolderDialog::FolderDialog(const MessageRoad& messages, QWidget* owner, const QString& startPath)
    : QDialog(owner), messages_(messages), ui_(std::make_unique<Ui::FolderDialog>()) {
    ui_->setupUi(this);
    ApplyDialogUnits(this);
    FitDriveList(ui_->driveList);
    model_ = std::make_unique<FolderBrowserModel>(SystemFileSystem(), *this, ToPath(startPath));
    ui_->folderTree->SetModel(&model_->Tree());

    connect(ui_->okButton, &QPushButton::clicked, this, &FolderDialog::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &FolderDialog::reject);
    connect(ui_->newFolderButton, &QPushButton::clicked, this, [this] { model_->OnNewFolder(); });
    connect(ui_->folderTree, &FolderTree::okRequested, this, &FolderDialog::accept);
    // Only the user's choice moves to a volume; SelectDrive sets the entry
    // without this signal.
    connect(ui_->driveList, &QComboBox::activated, this, [this](int index) { model_->OnDriveChosen(index); });
    connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this,
            [this] { ShowFolderHelp(this); });

    model_->Open();
    ui_->folderTree->setFocus();
}

FolderDialog::~FolderDialog() {
    // The tree outlives the model by a moment while the dialog's children go,
    // and must not report to it then.
    ui_->folderTree->SetModel(nullptr);
}

QString FolderDialog::SelectedPath() const { return FromPath(model_->SelectedPath()); }

QString FolderDialog::StartPath() const { return FromPath(model_->StartPath()); }

FolderTree* FolderDialog::Tree() const { return ui_->folderTree; }

FolderTreeView& FolderDialog::TreeView() { return *ui_->folderTree; }

void FolderDialog::FillDriveList(const std::vector<std::string>& entries) {
    ui_->driveList->clear();
    for (const std::string& entry : entries) ui_->driveList->addItem(FromPath(entry));
}

void FolderDialog::SelectDrive(int index) { ui_->driveList->setCurrentIndex(index); }

void FolderDialog::ShowPath(const std::string& shown, const std::string& whole) {
    ui_->pathLine->setText(FromPath(shown));
    ui_->pathLine->setToolTip(FromPath(whole));
}

bool FolderDialog::PathFits(const std::string& text) {
    const QLabel* line = ui_->pathLine;
    return line->fontMetrics().horizontalAdvance(FromPath(text)) <= line->contentsRect().width();
}

std::optional<std::string> FolderDialog::AskNewFolder(const std::string& parent) {
    NewFolderDialog dialog(messages_, FromPath(parent), this);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return ToPath(dialog.CreatedPath());
}

void FolderDialog::ShowMessage(const std::string& text) { messages_.Show(this, FromPath(text)); }

void FolderDialog::Close(FolderDialogResult result) {
    if (result == FolderDialogResult::kOk) {
        QDialog::accept();
    } else {
        QDialog::reject();
    }
}

void FolderDialog::accept() { model_->OnOk(); }

void FolderDialog::reject() { model_->OnCancel(); }

}  // namespace tarven
