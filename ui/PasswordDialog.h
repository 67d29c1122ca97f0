// The service password window: one of three fixed passwords raises the
// access level for the rest of the program's run.
#pragma once

#include <memory>

#include <QDialog>
#include <QString>

#include "LinkConstants.h"

namespace Ui {
class PasswordDialog;
}

namespace tarven {

class PasswordDialog : public QDialog {
    Q_OBJECT

public:
    explicit PasswordDialog(QWidget* parent);
    ~PasswordDialog() override;

    QString password;      // the text of edit 1003, read back on OK
    AccessLevel level = AccessLevel::Standard;  // valid after the dialog ended with OK

public slots:
    // Accepts a known password; a wrong one is reported and closes the
    // dialog as cancelled, so a retry starts from the main window again.
    void accept() override;

private:
    std::unique_ptr<Ui::PasswordDialog> ui_;
};

}  // namespace tarven
