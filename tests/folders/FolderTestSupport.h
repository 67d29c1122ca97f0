// Shared pieces of the folder dialog tests: a scratch folder tree, message
// capture, and finding controls by their template ids.
#pragma once

#include "FolderMessages.h"

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <QWidget>

#include <functional>

namespace tarven::test {

// A temporary folder with helpers to lay out folders and files in it. The
// process's current directory is restored when it goes.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    // The folder's real path (no symbolic links in it).
    QString Path() const { return path_; }
    QString Sub(const QString& relative) const { return path_ + QLatin1Char('/') + relative; }
    void MakeFolders(const QStringList& relatives) const;
    void MakeFile(const QString& relative, const QByteArray& content = "data") const;

private:
    QTemporaryDir dir_;
    QString path_;
    QString savedCurrent_;
};

// Collects what the folder dialogs would show in message boxes.
class CapturedMessages {
public:
    CapturedMessages();
    ~CapturedMessages();
    QStringList texts;

private:
    WarningFunction saved_;
};

// The child of `dialog` whose controlId property is `id`.
QWidget* ControlById(const QWidget* dialog, int id);

template <typename T>
T* Control(const QWidget* dialog, int id) {
    return qobject_cast<T*>(ControlById(dialog, id));
}

// Runs `step` once a modal widget of class T is up (opened by an exec()
// that the test is about to cause).
void WhenModal(const char* className, std::function<void(QWidget*)> step);

template <typename T>
void WhenModal(std::function<void(T*)> step) {
    WhenModal(T::staticMetaObject.className(), [step](QWidget* w) { step(static_cast<T*>(w)); });
}

}  // namespace tarven::test
