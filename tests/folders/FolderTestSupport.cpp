#include "FolderTestSupport.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QTimer>
#include <QVariant>

#include <gtest/gtest.h>

#include <memory>

namespace tarven::test {

ScratchFolder::ScratchFolder()
    : path_(QDir(dir_.path()).canonicalPath()), savedCurrent_(QDir::currentPath()) {}

ScratchFolder::~ScratchFolder() { QDir::setCurrent(savedCurrent_); }

void ScratchFolder::MakeFolders(const QStringList& relatives) const {
    for (const QString& relative : relatives) ASSERT_TRUE(QDir().mkpath(Sub(relative))) << relative.toStdString();
}

void ScratchFolder::MakeFile(const QString& relative, const QByteArray& content) const {
    QFile file(Sub(relative));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

CapturedMessages::CapturedMessages() : saved_(FolderWarningHook()) {
    FolderWarningHook() = [this](QWidget*, const QString& text) { texts.append(text); };
}

CapturedMessages::~CapturedMessages() { FolderWarningHook() = saved_; }

QWidget* ControlById(const QWidget* dialog, int id) {
    for (QWidget* child : dialog->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (child->property("controlId").toInt() == id) return child;
    }
    ADD_FAILURE() << "no control " << id;
    return nullptr;
}

void WhenModal(const char* className, std::function<void(QWidget*)> step) {
    // Polls until exec() has made the dialog the active modal widget.
    auto* timer = new QTimer;
    timer->setInterval(5);
    auto ticks = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, className, step, ticks] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->inherits(className)) {
            timer->stop();
            timer->deleteLater();
            step(modal);
        } else if (++*ticks > 1000) {
            // Never leave a test waiting on a dialog that nobody answers.
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no modal " << className << " appeared";
            if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
        }
    });
    timer->start();
}

}  // namespace tarven::test
