#include "PasswordDialog.h"

#include <QPushButton>
#include <QValidator>

#include "DialogTemplate.h"
#include "MessageHook.h"
#include "ui_PasswordDialog.h"

namespace tarven {

namespace {

constexpr int kTemplateFontPoints = 12;

// The template's upper-case edit: letters typed (or pasted) become capitals,
// so the technician need not mind the keyboard's case.
class UpperCaseValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        input = input.toUpper();
        return Acceptable;
    }
};

}  // namespace

PasswordDialog::PasswordDialog(const MessageRoad& messages, QWidget* parent)
    : QDialog(parent), messages_(messages), ui_(std::make_unique<Ui::PasswordDialog>()), model_(*this) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    FinishTemplate(this, kTemplateFontPoints);
    ui_->editPassword->setValidator(new UpperCaseValidator(ui_->editPassword));
    connect(ui_->buttonOk, &QPushButton::clicked, this, &PasswordDialog::accept);
    connect(ui_->buttonCancel, &QPushButton::clicked, this, &PasswordDialog::reject);
}

PasswordDialog::~PasswordDialog() = default;

void PasswordDialog::accept() { model_.OnOk(ui_->editPassword->text().toStdString()); }

void PasswordDialog::ShowMessage(const std::string& text) { messages_.Show(this, QString::fromUtf8(text)); }

void PasswordDialog::Close(bool accepted) {
    if (accepted) QDialog::accept();
    else reject();
}

}  // namespace tarven
