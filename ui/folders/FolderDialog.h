// The folder browser: choose the working folder in a folder tree, switch
// between the root and removable volumes, create a folder. OK makes the
// chosen folder the process's current directory; cancel puts the current
// directory back to the folder the dialog was opened on.
#pragma once

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class FolderDialog;
}

namespace tarven {

class FolderTree;

class FolderDialog : public QDialog {
    Q_OBJECT

public:
    // Opens on `startPath`, or on the process's current directory when it is
    // null or empty.
    explicit FolderDialog(QWidget* owner, const QString& startPath = QString());
    ~FolderDialog() override;

    // The folder selected in the tree ("/" for the root, "/a/b" below it);
    // empty when nothing is selected.
    QString SelectedPath() const { return selectedPath_; }
    QString StartPath() const { return startPath_; }

    // Brings the drive list and the tree to `path`. A path that does not
    // start at the root ("/") changes nothing.
    void GoToFolder(const QString& path);

    FolderTree* Tree() const;

public slots:
    // OK: the selected folder becomes the current directory.
    void accept() override;
    // Cancel, Escape and the close box: back to the start folder.
    void reject() override;

private:
    void OnSelectionChanged();
    void OnDriveChosen(int index);
    void OnNewFolder();
    void ShowSelectedPath();

    std::unique_ptr<Ui::FolderDialog> ui_;
    QString selectedPath_;
    QString startPath_;
    // Set while GoToFolder itself moves the drive list and the tree, so that
    // neither counts as the user's doing.
    bool busy_ = false;
};

}  // namespace tarven
