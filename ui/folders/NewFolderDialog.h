// Asks for a folder name and creates that folder inside a given parent.
#pragma once

#include <QDialog>
#include <QString>

#include <memory>
#include <optional>

namespace Ui {
class NewFolderDialog;
}

namespace tarven {

// The longest folder name the dialog takes.
inline constexpr int kFolderNameLimit = 40;

// The message for a field longer than `limit` characters, or nothing when
// the text fits.
std::optional<QString> LengthLimitMessage(const QString& text, int limit);

// Creates the folder `path` (mode 0777, less the umask). False when it
// exists already or cannot be made.
bool MakeFolder(const QString& path);

class NewFolderDialog : public QDialog {
    Q_OBJECT

public:
    NewFolderDialog(const QString& parentFolder, QWidget* owner);
    ~NewFolderDialog() override;

    // The full path of the folder created; empty until one was.
    QString CreatedPath() const { return createdPath_; }

public slots:
    // Creates the folder; closes only when that worked.
    void accept() override;

private:
    void UpdateOkButton();

    std::unique_ptr<Ui::NewFolderDialog> ui_;
    QString name_;
    // Kept with a trailing "/" until OK builds the full path from it.
    QString parentFolder_;
    QString createdPath_;
    // OK stays disabled until the user first changes the name, and enabled
    // from then on, even if the field is emptied again.
    bool changed_ = false;
};

}  // namespace tarven
