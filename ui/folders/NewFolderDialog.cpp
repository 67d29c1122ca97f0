#include "NewFolderDialog.h"

#include "DialogUnits.h"
#include "FolderMessages.h"
#include "FolderPaths.h"
#include "MessageBox.h"
#include "ui_NewFolderDialog.h"

#include <QFile>
#include <QShortcut>

#include <sys/stat.h>

namespace tarven {

std::optional<QString> LengthLimitMessage(const QString& text, int limit) {
    if (text.size() <= limit) return std::nullopt;
    return QStringLiteral("Please enter no more than %1 characters.").arg(limit);
}

bool MakeFolder(const QString& path) { return ::mkdir(QFile::encodeName(path).constData(), 0777) == 0; }

NewFolderDialog::NewFolderDialog(const QString& parentFolder, QWidget* owner)
    : QDialog(owner), ui_(std::make_unique<Ui::NewFolderDialog>()), parentFolder_(parentFolder) {
    ui_->setupUi(this);
    ApplyDialogUnits(this);
    if (!parentFolder_.endsWith(QLatin1Char('/'))) parentFolder_ += QLatin1Char('/');

    ui_->nameEdit->setMaxLength(kFolderNameLimit);
    ui_->nameEdit->setText(name_);
    UpdateOkButton();
    // Connected only now, so that filling the field above is no change of
    // the user's.
    connect(ui_->nameEdit, &QLineEdit::textChanged, this, [this] {
        changed_ = true;
        UpdateOkButton();
    });
    connect(ui_->okButton, &QPushButton::clicked, this, &NewFolderDialog::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &NewFolderDialog::reject);
    connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this,
            [this] { ShowFolderHelp(this); });
    ui_->nameEdit->setFocus();
}

NewFolderDialog::~NewFolderDialog() = default;

void NewFolderDialog::UpdateOkButton() { ui_->okButton->setEnabled(changed_); }

void NewFolderDialog::accept() {
    // Enter reaches here only through the default button, which is disabled
    // until the first change; a direct call keeps the same rule.
    if (!changed_) return;
    const QString typed = ui_->nameEdit->text();
    if (const std::optional<QString> message = LengthLimitMessage(typed, kFolderNameLimit)) {
        ShowFolderWarning(this, *message);
        return;
    }
    name_ = typed;
    // The parent keeps its trailing "/" dropped from here on; JoinFolderPath
    // gives the same full path for either spelling, so a second try after a
    // failure builds the same path again.
    if (parentFolder_.endsWith(QLatin1Char('/'))) parentFolder_.chop(1);
    const QString fullPath = JoinFolderPath(parentFolder_, name_);
    if (!MakeFolder(fullPath)) {
        ShowFolderWarning(this, QStringLiteral("Fail to create folder!"));
        return;
    }
    createdPath_ = fullPath;
    QDialog::accept();
}

}  // namespace tarven
