// Asked before a read-back writes a file whose name is taken already in the
// working folder: write over it, or write under another name, possibly
// after moving to another working folder.
#pragma once

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class OverwriteDialog;
}

namespace tarven {

// The answer, as the offset of the checked radio button's id from 11965.
// There is no 1: id 11966 is not in the dialog. Test for kRename.
enum OverwriteChoice { kOverwrite = 0, kRename = 2 };

class OverwriteDialog : public QDialog {
    Q_OBJECT

public:
    // `fileName` is the bare name the caller is about to write. The working
    // folder starts as the process's current directory.
    OverwriteDialog(const QString& fileName, QWidget* owner);
    ~OverwriteDialog() override;

    // kOverwrite or kRename.
    int Choice() const { return choice_; }
    // The name to write under when Choice() is kRename; the name passed in
    // until OK takes the field's text.
    QString NewName() const { return newName_; }
    // The working folder shown; the current directory has been moved there
    // too when the user chose it in the folder browser.
    QString WorkingFolder() const { return workingFolder_; }

public slots:
    // With kRename the new name must not be empty; otherwise the dialog
    // stays open.
    void accept() override;

private:
    // Writes the stored values into the controls: the caption, the working
    // folder and, while renaming, the stored new name, replacing whatever
    // was typed since.
    void Refresh();
    void OnChoiceClicked(int radioId);
    void OnChangeFolder();

    std::unique_ptr<Ui::OverwriteDialog> ui_;
    QString workingFolder_;
    QString captionLine_;
    QString newName_;
    int choice_ = kOverwrite;
};

}  // namespace tarven
