// The service password window, drawn with Qt from template 131; the
// password's meaning is PasswordModel's.
#pragma once

#include <memory>

#include <QDialog>

#include "MessageHook.h"
#include "PasswordModel.h"

namespace Ui {
class PasswordDialog;
}

namespace tarven {

class PasswordDialog : public QDialog, private PasswordView {
    Q_OBJECT

public:
    PasswordDialog(const MessageRoad& messages, QWidget* parent);
    ~PasswordDialog() override;

    // Valid after the dialog ended with OK.
    AccessLevel Level() const { return model_.Level(); }

public slots:
    void accept() override;

private:
    void ShowMessage(const std::string& text) override;
    void Close(bool accepted) override;

    const MessageRoad& messages_;
    std::unique_ptr<Ui::PasswordDialog> ui_;
    PasswordModel model_;
};

}  // namespace tarven
