// The new-folder dialog's Qt view over NewFolderModel: asks for a folder
// name and creates that folder inside a given parent.
#pragma once

#include "MessageHook.h"
#include "NewFolderModel.h"

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class NewFolderDialog;
}

namespace tarven {

class NewFolderDialog : public QDialog, public NewFolderView {
    Q_OBJECT

public:
    NewFolderDialog(const MessageRoad& messages, const QString& parentFolder, QWidget* owner);
    ~NewFolderDialog() override;

    // The full path of the folder created; empty until one was.
    QString CreatedPath() const;

    void EnableOk(bool enabled) override;
    std::string ReadName() override;
    void ShowMessage(const std::string& text) override;
    void Close(FolderDialogResult result) override;

public slots:
    // Creates the folder; closes only when that worked.
    void accept() override;
    void reject() override;

private:
    const MessageRoad& messages_;
    std::unique_ptr<Ui::NewFolderDialog> ui_;
    std::unique_ptr<NewFolderModel> model_;
};

}  // namespace tarven
