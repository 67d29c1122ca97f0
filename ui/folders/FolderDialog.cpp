#include "FolderDialog.h"

#include "DialogUnits.h"
#include "DriveList.h"
#include "FolderMessages.h"
#include "FolderPaths.h"
#include "FolderTree.h"
#include "MessageBox.h"
#include "NewFolderDialog.h"
#include "ui_FolderDialog.h"

#include <QDir>
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

FolderDialog::FolderDialog(QWidget* owner, const QString& startPath)
    : QDialog(owner), ui_(std::make_unique<Ui::FolderDialog>()) {
    ui_->setupUi(this);
    ApplyDialogUnits(this);
    FitDriveList(ui_->driveList);

    startPath_ = DropTrailingSeparator((startPath.isEmpty() ? QDir::currentPath() : startPath).left(kStartPathLimit));

    connect(ui_->okButton, &QPushButton::clicked, this, &FolderDialog::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &FolderDialog::reject);
    connect(ui_->newFolderButton, &QPushButton::clicked, this, &FolderDialog::OnNewFolder);
    connect(ui_->folderTree, &FolderTree::okRequested, this, &FolderDialog::accept);
    connect(ui_->folderTree, &QTreeWidget::currentItemChanged, this, &FolderDialog::OnSelectionChanged);
    // Only the user's choice moves to a volume; GoToFolder sets the entry
    // without this signal.
    connect(ui_->driveList, &QComboBox::activated, this, &FolderDialog::OnDriveChosen);
    connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this,
            [this] { ShowFolderHelp(this); });

    ui_->driveList->addItems(CurrentDriveEntries());
    GoToFolder(startPath_);
    ui_->folderTree->setFocus();
}

FolderDialog::~FolderDialog() = default;

FolderTree* FolderDialog::Tree() const { return ui_->folderTree; }

void FolderDialog::GoToFolder(const QString& path) {
    const QString walked = path.left(kWalkPathLimit);
    if (!walked.startsWith(QLatin1Char('/'))) return;
    busy_ = true;
    QStringList entries;
    for (int i = 0; i < ui_->driveList->count(); ++i) entries.append(ui_->driveList->itemText(i));
    ui_->driveList->setCurrentIndex(DriveEntryIndexForPath(entries, walked));
    ui_->folderTree->SelectPath(walked);
    busy_ = false;
    ShowSelectedPath();
}

void FolderDialog::OnSelectionChanged() {
    const QTreeWidgetItem* item = ui_->folderTree->currentItem();
    selectedPath_ = item ? FolderTree::ItemPath(item) : QString();
    if (!busy_) ShowSelectedPath();
}

void FolderDialog::ShowSelectedPath() {
    // A deep path keeps its start and its last folder inside the dialog; the
    // tooltip has it whole.
    QLabel* line = ui_->pathLine;
    line->setText(line->fontMetrics().elidedText(selectedPath_, Qt::ElideMiddle, line->contentsRect().width()));
    line->setToolTip(selectedPath_);
}

void FolderDialog::OnDriveChosen(int index) {
    if (busy_ || index < 0) return;
    const std::optional<QString> mountPoint = MountPointOfEntry(ui_->driveList->itemText(index));
    if (!mountPoint) return;
    bool changed = false;
    {
        ScopedWaitCursor waitCursor;
        changed = QDir::setCurrent(*mountPoint);
    }
    if (!changed) {
        ShowFolderWarning(this, QStringLiteral("Device error!"));
        GoToFolder(selectedPath_);
        return;
    }
    ui_->folderTree->SelectPath(QDir::currentPath());
}

void FolderDialog::OnNewFolder() {
    NewFolderDialog dialog(selectedPath_, this);
    if (dialog.exec() == QDialog::Accepted) ui_->folderTree->SelectPath(dialog.CreatedPath());
}

void FolderDialog::accept() {
    // The caller learns whether this worked by the folder it finds current.
    QDir::setCurrent(selectedPath_);
    QDialog::accept();
}

void FolderDialog::reject() {
    QDir::setCurrent(startPath_);
    QDialog::reject();
}

}  // namespace tarven
