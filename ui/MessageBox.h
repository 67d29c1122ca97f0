// The program's one kind of message box: a warning icon, the application's
// title and one OK button.
#pragma once

#include <QString>

class QWidget;

namespace tarven {

// The title every message box and the main window carry.
QString ApplicationTitle();

// Shows `text` modally and returns when OK was pressed.
void ShowWarning(QWidget* parent, const QString& text);

// The help text of the folder dialogs (F1).
QString FolderHelpText();
void ShowFolderHelp(QWidget* parent);

}  // namespace tarven
