#include "UiTestSupport.h"

#include <pty.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include "DialogTemplate.h"
#include "LinkEngine.h"

namespace tarven::test {

TempFolder::TempFolder() {
    saved_ = QDir::currentPath();
    path_ = QFileInfo(dir_.path()).canonicalFilePath();
    QDir::setCurrent(path_);
}

TempFolder::~TempFolder() { QDir::setCurrent(saved_); }

void TempFolder::File(const QString& name, std::int64_t size, char fill) const {
    QFile file(path_ + QLatin1Char('/') + name);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    if (fill == '\0') file.resize(size);
    else file.write(QByteArray(size, fill));
}

void TempFolder::Put(const QString& name, std::int64_t offset, const QByteArray& bytes) const {
    QFile file(path_ + QLatin1Char('/') + name);
    file.open(QIODevice::ReadWrite);
    file.seek(offset);
    file.write(bytes);
}

void TempFolder::Folder(const QString& name) const { QDir(path_).mkdir(name); }

Messages::Messages() {
    auto collect = [this](QWidget*, const QString& text) {
        texts << text;
        if (onMessage) onMessage(text);
    };
    program.Messages().SetHook(collect);
}

ScriptedSessions::Script FinishingRun(int result) {
    return [result](LinkNotifier* window, const RunRequest&) {
        window->OnLinkEvent(Progress{Progress::Step::Total, 64});
        window->OnLinkEvent(Progress{Progress::Step::Position, 64});
        window->OnLinkEvent(Finished{result});
        return true;
    };
}

ScriptedSessions::Script SilentRun() {
    return [](LinkNotifier*, const RunRequest&) { return true; };
}

ScriptedSessions::Script VersionBlockRun(const std::vector<std::uint8_t>& block) {
    return [block](LinkNotifier* window, const RunRequest&) {
        VersionReady ready;
        std::copy_n(block.begin(), std::min(block.size(), ready.block.size()), ready.block.begin());
        window->OnLinkEvent(Progress{Progress::Step::Total, kVersionTotal});
        window->OnLinkEvent(ready);
        return true;
    };
}

tarven::PortMap PortsOn(const std::map<int, std::string>& devices) {
    tarven::PortMap ports = NoPorts();
    for (const auto& [index, device] : devices) ports.Override(index, device);
    return ports;
}

Pty::Pty() {
    int slave = -1;
    char name[256] = {};
    if (openpty(&master_, &slave, name, nullptr, nullptr) == 0) {
        device_ = name;
        close(slave);
    }
}

Pty::~Pty() {
    if (master_ >= 0) close(master_);
}

bool SpinUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void WhenModal(const char* className, std::function<void(QWidget*)> step) {
    auto* timer = new QTimer(qApp);
    auto* clock = new QElapsedTimer;
    clock->start();
    const QByteArray wanted(className);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, wanted, step] {
        QWidget* modal = QApplication::activeModalWidget();
        const bool found = modal && modal->isVisible() && wanted == modal->metaObject()->className();
        if (!found && clock->elapsed() < 5000) return;
        timer->stop();
        timer->deleteLater();
        delete clock;
        if (found) step(modal);
    });
    timer->start(10);
}

void ClickControl(const QWidget* dialog, int id) {
    if (auto* button = FindControlAs<QAbstractButton>(dialog, id)) button->click();
}

}  // namespace tarven::test
