#include "MessageBox.h"

#include <QMessageBox>

namespace tarven {

QString ApplicationTitle() { return QStringLiteral("TARVEN Updater V1.0"); }

void ShowWarning(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Warning, ApplicationTitle(), text, QMessageBox::Ok, parent);
    box.exec();
}

QString FolderHelpText() {
    return QStringLiteral(
        "Choose the working folder in the tree: expand a folder to see its sub-folders, "
        "double-click a folder without sub-folders or press OK to take it. "
        "The list below the tree switches between the root and removable volumes. "
        "\"nouveau classeur\" creates a folder inside the selected one.");
}

void ShowFolderHelp(QWidget* parent) {
    QMessageBox box(QMessageBox::Information, ApplicationTitle(), FolderHelpText(), QMessageBox::Ok, parent);
    box.exec();
}

}  // namespace tarven
