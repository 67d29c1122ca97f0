// The overwrite-or-rename dialog's Qt view over OverwriteModel, asked before
// a read-back writes a file whose name is taken already in the working
// folder.
#pragma once

#include "MessageHook.h"
#include "OverwriteModel.h"

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class OverwriteDialog;
}

namespace tarven {

class OverwriteDialog : public QDialog, public OverwriteView {
    Q_OBJECT

public:
    // `fileName` is the bare name the caller is about to write. The working
    // folder starts as the process's current directory.
    OverwriteDialog(const MessageRoad& messages, const QString& fileName, QWidget* owner);
    ~OverwriteDialog() override;

    // kOverwrite or kRename.
    int Choice() const { return model_->Choice(); }
    // The name to write under when Choice() is kRename.
    QString NewName() const;
    QString WorkingFolder() const;

    void ShowCaption(const std::string& text) override;
    void ShowWorkingFolder(const std::string& path) override;
    void CheckChoice(int choice) override;
    void ShowNewNameField(bool visible) override;
    void SetNewName(const std::string& name) override;
    std::string ReadNewName() override;
    std::optional<std::string> AskFolder(const std::string& startFolder) override;
    void ShowMessage(const std::string& text) override;
    void Close(FolderDialogResult result) override;

public slots:
    void accept() override;
    void reject() override;

private:
    const MessageRoad& messages_;
    std::unique_ptr<Ui::OverwriteDialog> ui_;
    std::unique_ptr<OverwriteModel> model_;
};

}  // namespace tarven
