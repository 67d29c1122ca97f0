// Walks the window's main flows against a simulated receiver and saves a
// picture of each step: the main window, a version read, an upload with its
// closing message, the password box, the folder browser and the About box.
// scripts/screenshots.sh runs it under a virtual display.
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "MainDialog.h"
#include "SimReceiver.h"
#include "UpdaterApp.h"

using namespace tarven;

namespace {

QString g_out;

void Save(QWidget* widget, const QString& name) {
    const QString path = g_out + "/" + name + ".png";
    if (!widget->window()->grab().save(path)) std::fprintf(stderr, "cannot save %s\n", qPrintable(path));
    else std::printf("%s\n", qPrintable(path));
}

bool IsA(const QWidget* w, const char* className) {
    for (const QMetaObject* m = w->metaObject(); m; m = m->superClass())
        if (QByteArray(m->className()).endsWith(className)) return true;
    return false;
}

// Once a modal window of class `className` (namespace aside) is up, waits
// `settleMs`, runs `act` on it (which should take the picture and close it).
void WhenModal(const char* className, int settleMs, std::function<void(QWidget*)> act) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [=] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !IsA(modal, className)) return;
        poll->stop();
        poll->deleteLater();
        QTimer::singleShot(settleMs, modal, [=] { act(modal); });
    });
    poll->start(20);
}

// A 1 MiB software image with version texts where the window looks for them.
void WriteSoftwareImage(const QString& path) {
    QByteArray image(1048576, char(0xFF));
    QByteArray record(36, char(0xFF));
    record.replace(12, 6, QByteArray("V2.41\0", 6));
    record.replace(28, 3, QByteArray("H3\0", 3));
    image.replace(913328, record.size(), record);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) file.write(image);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setWindowIcon(ApplicationIcon());
    g_out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QDir().mkpath(g_out);

    sim::SimOptions options;
    options.version.hardware = "HW-DEMO-2";
    options.version.software = "SW 2.41 DEMO";
    sim::SimReceiver receiver(options);

    // /var/tmp is usually quieter than /tmp, which the folder browser shows.
    const QString work = "/var/tmp/tarven-tour-" + QString::number(::getpid());
    QDir().mkpath(work + "/Images");
    WriteSoftwareImage(work + "/Images/main_v241.bin");
    ::chdir(QFile::encodeName(work + "/Images").constData());

    UiProgram program;
    PortMap ports({receiver.DevicePath(), "", "", "", "", ""});
    MainDialog window(program, ports);
    window.show();
    QTimer::singleShot(300, &window, [&] {
        Save(&window, "main-window");

        WhenModal("TransferDialog", 0, [](QWidget* w) { Save(w, "version-read"); });
        window.Model().OnReadVersion();
        Save(&window, "main-window-versions");

        WhenModal("TransferDialog", 150, [](QWidget* w) { Save(w, "upload-progress"); });
        WhenModal("QMessageBox", 100, [](QWidget* w) {
            Save(w, "upload-done");
            w->close();
        });
        window.Model().OnUpdateCommand();

        WhenModal("PasswordDialog", 100, [](QWidget* w) {
            if (auto* edit = w->findChild<QLineEdit*>()) edit->setText("KOLWE");
            Save(w, "password");
            w->close();
        });
        window.Model().OnServiceAccess();

        WhenModal("FolderDialog", 200, [](QWidget* w) {
            Save(w, "folder-browser");
            w->close();
        });
        window.Model().OnChangeFolder();

        WhenModal("AboutDialog", 100, [](QWidget* w) {
            Save(w, "about");
            w->close();
        });
        window.Model().OnNote();
        window.close();
        QDir(work).removeRecursively();
        app.quit();
    });
    return app.exec();
}
