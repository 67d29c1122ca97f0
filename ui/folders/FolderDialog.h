// The folder browser's Qt view: the template's widgets, drawn as the
// FolderBrowserModel says. OK makes the chosen folder the process's current
// directory; cancel puts it back to the folder the dialog was opened on.
#pragma once

#include "FolderBrowserModel.h"
#include "MessageHook.h"

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class FolderDialog;
}

namespace tarven {

class FolderTree;

class FolderDialog : public QDialog, public FolderBrowserView {
    Q_OBJECT

public:
    // Opens on `startPath`, or on the process's current directory when it is
    // null or empty. Its messages take `messages`.
    FolderDialog(const MessageRoad& messages, QWidget* owner, const QString& startPath = QString());
    ~FolderDialog() override;

    // The folder selected in the tree ("/" for the root, "/a/b" below it);
    // empty when nothing is selected.
    QString SelectedPath() const;
    QString StartPath() const;

    FolderBrowserModel& Model() { return *model_; }
    FolderTree* Tree() const;

    FolderTreeView& TreeView() override;
    void FillDriveList(const std::vector<std::string>& entries) override;
    void SelectDrive(int index) override;
    void ShowPath(const std::string& shown, const std::string& whole) override;
    bool PathFits(const std::string& text) override;
    std::optional<std::string> AskNewFolder(const std::string& parent) override;
    void ShowMessage(const std::string& text) override;
    void Close(FolderDialogResult result) override;

public slots:
    // OK, Enter and a double-click on a folder without sub-folders.
    void accept() override;
    // Cancel, Escape and the close box.
    void reject() override;

private:
    const MessageRoad& messages_;
    std::unique_ptr<Ui::FolderDialog> ui_;
    std::unique_ptr<FolderBrowserModel> model_;
};

}  // namespace tarven
