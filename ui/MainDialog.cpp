#include "MainDialog.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>

#include "AboutDialog.h"
#include "DialogTemplate.h"
#include "MessageBox.h"
#include "MessageHook.h"
#include "PortAccess.h"
#include "UpdaterApp.h"
#include "UpdaterCore.h"
#include "ui_MainDialog.h"

namespace tarven {

namespace {

constexpr int kTemplateFontPoints = 8;
const QString kUnavailable = QStringLiteral("Unavailable");

// Exchange limits, checked when Enter closes the window. The fields are
// read-only, so the limits guard against texts from a receiver or an image
// file; the program's own placeholder "Unavailable" is one character over
// the image hardware limit and is not held against it, or Enter would ask the
// technician to shorten a text nobody can edit.
constexpr int kWorkFolderLimit = 256;
constexpr int kReceiverSoftwareLimit = 20;
constexpr int kImageHardwareLimit = 10;
constexpr int kImageSoftwareLimit = 20;

}  // namespace

QString AboutMenuText() { return QStringLiteral("&About Veltra..."); }

MainDialog::MainDialog(QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::MainDialog>()),
      receiverSoftwareVersion(kUnavailable),
      receiverHardwareVersion(kUnavailable),
      imageHardwareVersion(kUnavailable),
      imageSoftwareVersion(kUnavailable),
      portSettings(DefaultPortSettings()) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(ApplicationTitle());
    setWindowIcon(ApplicationIcon());
    FinishTemplate(this, kTemplateFontPoints);

    // Created, never shown; their enabled state is still kept up to date.
    ui_->radioFullX->hide();
    ui_->buttonReadBack->hide();

    kindButtons_ = {ui_->radioFactoryData, ui_->radioUserData,  ui_->radioSoftware, ui_->radioFullImage,
                    ui_->radioSoftwareDataLoader, ui_->radioChip, ui_->radioFullX};
    for (QRadioButton* radio : kindButtons_) connect(radio, &QRadioButton::clicked, this, &MainDialog::OnKindChanged);

    connect(ui_->buttonChangeFolder, &QPushButton::clicked, this, &MainDialog::OnChangeFolder);
    connect(ui_->buttonUpdate, &QPushButton::clicked, this, &MainDialog::OnUpdateCommand);
    connect(ui_->buttonReadVersion, &QPushButton::clicked, this, &MainDialog::OnReadVersion);
    connect(ui_->buttonNote, &QPushButton::clicked, this, &MainDialog::OnNote);
    connect(ui_->buttonPassword, &QPushButton::clicked, this, &MainDialog::OnServiceAccess);
    connect(ui_->buttonReadBack, &QPushButton::clicked, this, &MainDialog::OnReadBack);
    connect(ui_->buttonExit, &QPushButton::clicked, this, &MainDialog::reject);
    connect(ui_->listPorts, &QListWidget::itemSelectionChanged, this, &MainDialog::OnPortSelected);
    // A click on the entry already highlighted changes no selection, yet it
    // is the technician choosing that port (the first one shown may not be
    // the port in use).
    connect(ui_->listPorts, &QListWidget::itemPressed, this, &MainDialog::OnPortSelected);
    ui_->listPorts->installEventFilter(this);
    connect(ui_->listImages, &QListWidget::itemSelectionChanged, this, &MainDialog::ShowImageVersions);

    // The window manager owns the system menu here, so the About entry lives
    // in the window's context menu.
    const QString aboutText = AboutMenuText();
    if (!aboutText.isEmpty()) {
        aboutAction_ = new QAction(aboutText, this);
        connect(aboutAction_, &QAction::triggered, this, [this] { OnSysCommand(kAboutCommand); });
        addAction(aboutAction_);
        setContextMenuPolicy(Qt::ActionsContextMenu);
    }

    InitControls();
    RefreshImageList();
}

MainDialog::~MainDialog() = default;

// ---------------------------------------------------------------- start-up

void MainDialog::InitControls() {
    for (QRadioButton* radio : kindButtons_) radio->setChecked(false);
    KindButton(imageKind)->setChecked(true);
    FillPortList();
    workFolder = QDir::currentPath();
    PushFields();
}

void MainDialog::FillPortList() {
    // Selecting here is the window's doing, not the technician's: the port
    // index stays as it is until someone clicks an entry.
    const QSignalBlocker quiet(ui_->listPorts);
    ui_->listPorts->clear();
    int chosenRow = 0;
    for (int index = 0; index < kPortCount; ++index) {
        if (!ProbePort(index)) continue;
        auto* item = new QListWidgetItem(QString::fromLatin1(PortNames[index]), ui_->listPorts);
        item->setToolTip(QString::fromStdString(PortDevice(index)));
        if (index == portSettings.wReserved) chosenRow = ui_->listPorts->count() - 1;
    }
    if (ui_->listPorts->count() > 0) ui_->listPorts->setCurrentRow(chosenRow);
}

// ---------------------------------------------------------------- field exchange

void MainDialog::PushFields() {
    ui_->labelWorkFolder->setText(workFolder);
    ui_->editReceiverSoftware->setText(receiverSoftwareVersion);
    ui_->editReceiverHardware->setText(receiverHardwareVersion);
    ui_->editImageHardware->setText(imageHardwareVersion);
    ui_->editImageSoftware->setText(imageSoftwareVersion);
}

bool MainDialog::PullFields() {
    struct Exchange {
        QWidget* control;
        QString text;
        QString* field;
        int limit;  // 0: none
    };
    const Exchange fields[] = {
        {ui_->labelWorkFolder, ui_->labelWorkFolder->text(), &workFolder, kWorkFolderLimit},
        {ui_->editReceiverSoftware, ui_->editReceiverSoftware->text(), &receiverSoftwareVersion, kReceiverSoftwareLimit},
        {ui_->editReceiverHardware, ui_->editReceiverHardware->text(), &receiverHardwareVersion, 0},
        {ui_->editImageHardware, ui_->editImageHardware->text(), &imageHardwareVersion, kImageHardwareLimit},
        {ui_->editImageSoftware, ui_->editImageSoftware->text(), &imageSoftwareVersion, kImageSoftwareLimit},
    };
    for (const Exchange& f : fields) {
        if (f.limit > 0 && f.text.size() > f.limit && f.text != kUnavailable) {
            ShowMessage(this, QStringLiteral("Please enter no more than %1 characters.").arg(f.limit));
            f.control->setFocus();
            return false;
        }
        *f.field = f.text;
    }
    return true;
}

void MainDialog::accept() {
    if (!PullFields()) return;
    QDialog::accept();
}

bool MainDialog::eventFilter(QObject* watched, QEvent* e) {
    // The keys that pick an entry of the port list count as a click on it,
    // whether or not they move the highlight (which then notifies again).
    if (watched == ui_->listPorts && e->type() == QEvent::KeyPress) {
        switch (static_cast<QKeyEvent*>(e)->key()) {
            case Qt::Key_Space:
            case Qt::Key_Select:
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Up:
            case Qt::Key_Down:
            case Qt::Key_Left:
            case Qt::Key_Right:
            case Qt::Key_Home:
            case Qt::Key_End:
            case Qt::Key_PageUp:
            case Qt::Key_PageDown:
                OnPortSelected();
                break;
            default:
                break;
        }
    }
    return QDialog::eventFilter(watched, e);
}

void MainDialog::keyPressEvent(QKeyEvent* e) {
    // Enter is the window's OK command unless a button has the focus (then it
    // presses that button, as the dialog does by itself).
    const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
    if (enter && !qobject_cast<QPushButton*>(focusWidget())) {
        accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

// ---------------------------------------------------------------- ports and kinds

void MainDialog::OnPortSelected() {
    const QList<QListWidgetItem*> selected = ui_->listPorts->selectedItems();
    if (selected.isEmpty()) return;
    const int index = PortIndexFromName(selected.first()->text().toStdString());
    if (index >= 0) portSettings.wReserved = static_cast<std::uint16_t>(index);
}

QRadioButton* MainDialog::KindButton(int kind) const {
    const int index = KindIndex(kind);
    return index >= 0 && index < kKindCount ? kindButtons_[index] : nullptr;
}

int MainDialog::CheckedKind() const {
    for (int index = 0; index < kKindCount; ++index)
        if (kindButtons_[index]->isChecked()) return KindFactoryData + index;
    return imageKind;
}

void MainDialog::OnKindChanged() {
    const int oldKind = imageKind;
    imageKind = CheckedKind();
    if (KindChangeNeedsRefresh(oldKind, imageKind)) RefreshImageList();
}

// ---------------------------------------------------------------- image list

void MainDialog::RefreshImageList() {
    ui_->buttonUpdate->setEnabled(true);
    {
        // The window fills and selects; only the technician's choice notifies.
        const QSignalBlocker quiet(ui_->listImages);
        ui_->listImages->clear();
        QDir::setCurrent(workFolder);  // a failure lists whatever folder is current
        for (const std::string& name : ListAcceptedImages(KindIndex(imageKind)))
            ui_->listImages->addItem(QFile::decodeName(name.c_str()));
        if (ui_->listImages->count() > 0) ui_->listImages->setCurrentRow(0);
    }
    const int count = ui_->listImages->count();
    if (count > 0 && imageKind == KindFullX && count != 2) {
        ui_->buttonUpdate->setEnabled(false);
        ShowMessage(this, QStringLiteral("The number of the file is incorrect! Please check it"));
    }
    ShowImageVersions();
    ui_->buttonReadBack->setEnabled(ReadBackEnabled(imageKind, accessLevel));
    PushFields();
}

QString MainDialog::ImageNameAt(int row) const {
    const QListWidgetItem* item = ui_->listImages->item(row);
    return item ? item->text() : QString();
}

QString MainDialog::SelectedImageName() const {
    const QList<QListWidgetItem*> selected = ui_->listImages->selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

void MainDialog::ShowImageVersions() {
    const QString name = SelectedImageName();
    if (!IsSoftwareKind(imageKind) || name.isEmpty()) {
        imageSoftwareVersion = kUnavailable;
        imageHardwareVersion = kUnavailable;
        PushFields();
        return;
    }
    const std::optional<ImageVersions> versions = ReadImageVersions(QFile::encodeName(name).toStdString());
    if (!versions) {
        ShowMessage(this, QStringLiteral("File open error"));
        return;
    }
    imageSoftwareVersion = VersionText(versions->software);
    imageHardwareVersion = VersionText(versions->hardware);
    PushFields();
}

// ---------------------------------------------------------------- About

void MainDialog::OnNote() {
    AboutDialog about(this);
    about.exec();
}

void MainDialog::OnSysCommand(int command) {
    if ((command & 0xFFF0) == kAboutCommand) OnNote();
}

}  // namespace tarven
