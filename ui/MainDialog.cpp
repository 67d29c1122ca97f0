#include "MainDialog.h"

#include <QAction>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>

#include "DialogTemplate.h"
#include "MessageBox.h"
#include "UpdaterApp.h"
#include "ui_MainDialog.h"

namespace tarven {

namespace {

constexpr int kTemplateFontPoints = 8;

// Version texts are single bytes per character, shown as Latin-1.
QString VersionText(const std::string& bytes) { return QString::fromLatin1(bytes.data(), qsizetype(bytes.size())); }

int SelectedRow(const QListWidget* list) {
    const QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->row(selected.first());
}

}  // namespace

MainDialog::MainDialog(UiProgram& program, const PortMap& ports, QWidget* parent)
    : MainDialog(program, ports, LinkSessions(ports), parent) {}

MainDialog::MainDialog(UiProgram& program, const PortMap& ports, SessionFactory sessions, QWidget* parent)
    : QDialog(parent),
      program_(program),
      ui_(std::make_unique<Ui::MainDialog>()),
      sessions_(std::move(sessions)),
      model_(*this, files_, program.State(), ProbeThrough(ports)) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(ApplicationTitle());
    setWindowIcon(ApplicationIcon());
    FinishTemplate(this, kTemplateFontPoints);

    // Created, never shown; their enabled state is still kept up to date.
    ui_->radioFullX->hide();
    ui_->buttonReadBack->hide();

    kindButtons_ = {ui_->radioFactoryData,        ui_->radioUserData, ui_->radioSoftware, ui_->radioFullImage,
                    ui_->radioSoftwareDataLoader, ui_->radioChip,     ui_->radioFullX};
    ConnectControls();

    // The window manager owns the system menu here, so the About entry lives
    // in the window's context menu.
    auto* aboutAction = new QAction(QString::fromUtf8(kAboutMenuText), this);
    connect(aboutAction, &QAction::triggered, this, [this] { model_.OnSysCommand(kAboutCommand); });
    addAction(aboutAction);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    model_.Start();
}

MainDialog::~MainDialog() = default;

void MainDialog::ConnectControls() {
    for (QRadioButton* radio : kindButtons_)
        connect(radio, &QRadioButton::clicked, this, [this] { model_.OnKindChanged(CheckedKind()); });
    connect(ui_->buttonChangeFolder, &QPushButton::clicked, this, [this] { model_.OnChangeFolder(); });
    connect(ui_->buttonUpdate, &QPushButton::clicked, this, [this] { model_.OnUpdateCommand(); });
    connect(ui_->buttonReadVersion, &QPushButton::clicked, this, [this] { model_.OnReadVersion(); });
    connect(ui_->buttonNote, &QPushButton::clicked, this, [this] { model_.OnNote(); });
    connect(ui_->buttonPassword, &QPushButton::clicked, this, [this] { model_.OnServiceAccess(); });
    connect(ui_->buttonReadBack, &QPushButton::clicked, this, [this] { model_.OnReadBack(); });
    connect(ui_->buttonExit, &QPushButton::clicked, this, &MainDialog::reject);
    connect(ui_->listPorts, &QListWidget::itemSelectionChanged, this, &MainDialog::ForwardPortSelection);
    // A click on the entry already highlighted changes no selection, yet it
    // is the technician choosing that port (the first one shown may not be
    // the port in use).
    connect(ui_->listPorts, &QListWidget::itemPressed, this, &MainDialog::ForwardPortSelection);
    ui_->listPorts->installEventFilter(this);
    connect(ui_->listImages, &QListWidget::itemSelectionChanged, this, &MainDialog::ForwardImageSelection);
}

void MainDialog::ForwardPortSelection() { model_.OnPortSelected(SelectedRow(ui_->listPorts)); }

void MainDialog::ForwardImageSelection() { model_.OnImageSelected(SelectedRow(ui_->listImages)); }

ImageKind MainDialog::CheckedKind() const {
    for (int index = 0; index < kKindCount; ++index)
        if (kindButtons_[index]->isChecked()) return kKindTable[index].kind;
    return model_.Kind();
}

// ---------------------------------------------------------------- keys

void MainDialog::accept() {
    if (model_.OnOk()) QDialog::accept();
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
            case Qt::Key_PageDown: ForwardPortSelection(); break;
            default: break;
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

// ---------------------------------------------------------------- drawing

void MainDialog::ShowFields(const MainFields& fields) {
    ui_->labelWorkFolder->setText(QString::fromUtf8(fields.workFolder));
    ui_->editReceiverSoftware->setText(VersionText(fields.receiverSoftwareVersion));
    ui_->editReceiverHardware->setText(VersionText(fields.receiverHardwareVersion));
    ui_->editImageHardware->setText(VersionText(fields.imageHardwareVersion));
    ui_->editImageSoftware->setText(VersionText(fields.imageSoftwareVersion));
}

void MainDialog::CheckKind(ImageKind kind) {
    for (int index = 0; index < kKindCount; ++index) kindButtons_[index]->setChecked(index == KindIndex(kind));
}

void MainDialog::ShowPorts(const std::vector<PortEntry>& ports, int selectedRow) {
    const QSignalBlocker quiet(ui_->listPorts);
    ui_->listPorts->clear();
    for (const PortEntry& port : ports) {
        auto* item = new QListWidgetItem(QString::fromUtf8(port.name), ui_->listPorts);
        const std::string tip = port.description.empty() ? port.device : port.device + "\n" + port.description;
        item->setToolTip(QString::fromUtf8(tip));
    }
    if (selectedRow >= 0) ui_->listPorts->setCurrentRow(selectedRow);
}

void MainDialog::ShowImages(const std::vector<std::string>& names, int selectedRow) {
    const QSignalBlocker quiet(ui_->listImages);
    ui_->listImages->clear();
    for (const std::string& name : names) ui_->listImages->addItem(QString::fromUtf8(name));
    if (selectedRow >= 0) ui_->listImages->setCurrentRow(selectedRow);
}

void MainDialog::EnableControl(MainControl control, bool enabled) {
    QWidget* const controls[] = {ui_->buttonUpdate, ui_->buttonReadBack, ui_->buttonPassword,
                                 ui_->radioSoftwareDataLoader};
    controls[static_cast<int>(control)]->setEnabled(enabled);
}

void MainDialog::FocusField(MainField field) {
    QWidget* const controls[] = {ui_->labelWorkFolder, ui_->editReceiverSoftware, ui_->editReceiverHardware,
                                 ui_->editImageHardware, ui_->editImageSoftware};
    controls[static_cast<int>(field)]->setFocus();
}

void MainDialog::ShowMessage(const std::string& text) { program_.Messages().Show(this, QString::fromUtf8(text)); }

}  // namespace tarven
