#include "PasswordDialog.h"

#include <QPushButton>
#include <QValidator>

#include "DialogTemplate.h"
#include "MessageHook.h"
#include "UpdaterCore.h"
#include "ui_PasswordDialog.h"

namespace tarven {

namespace {

constexpr int kTemplateFontPoints = 12;

// Letters typed (or pasted) into the password edit become capitals, so the
// technician need not mind the keyboard's case.
class UpperCaseValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        input = input.toUpper();
        return Acceptable;
    }
};

}  // namespace

PasswordDialog::PasswordDialog(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::PasswordDialog>()) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    FinishTemplate(this, kTemplateFontPoints);
    ui_->editPassword->setValidator(new UpperCaseValidator(ui_->editPassword));
    ui_->editPassword->setText(password);
    connect(ui_->buttonOk, &QPushButton::clicked, this, &PasswordDialog::accept);
    connect(ui_->buttonCancel, &QPushButton::clicked, this, &PasswordDialog::reject);
}

PasswordDialog::~PasswordDialog() = default;

void PasswordDialog::accept() {
    password = ui_->editPassword->text();
    const std::optional<AccessLevel> granted = PasswordAccessLevel(password.toStdString());
    if (!granted) {
        ShowMessage(this, QStringLiteral("Password incorrect!"));
        reject();
        return;
    }
    level = *granted;
    QDialog::accept();
}

}  // namespace tarven
