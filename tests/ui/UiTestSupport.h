// Shared pieces of the window tests: a scratch working folder, image files of
// given sizes, captured message boxes, a stand-in for the link worker, and
// ways to act on a modal dialog once it is up.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>

#include "LinkConstants.h"
#include "LinkNotifier.h"
#include "MessageHook.h"
#include "PortMap.h"
#include "ScriptedSession.h"
#include "TransferDialog.h"
#include "UiProgram.h"

class QWidget;

namespace tarven {
class LinkEngine;
}

namespace tarven::test {

// A temporary folder that is the current directory while the object lives.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    QString Path() const { return path_; }
    // A file of `size` bytes, all `fill`.
    void File(const QString& name, std::int64_t size, char fill = '\0') const;
    // Writes `bytes` at `offset` of an existing file.
    void Put(const QString& name, std::int64_t offset, const QByteArray& bytes) const;
    void Folder(const QString& name) const;

private:
    QTemporaryDir dir_;
    QString path_;
    QString saved_;
};

// A program whose message boxes, in every window it is handed to, only
// collect their texts.
class Messages {
public:
    Messages();
    Messages(const Messages&) = delete;
    Messages& operator=(const Messages&) = delete;
    UiProgram program;
    QStringList texts;
    // Called with each text as its box would be shown.
    std::function<void(const QString&)> onMessage;
};

// Scripts for a run played by ScriptedSessions, for the common endings.
ScriptedSessions::Script FinishingRun(int result);  // a transfer ending with Finished{result}
ScriptedSessions::Script SilentRun();               // a worker that reports nothing
ScriptedSessions::Script VersionBlockRun(const std::vector<std::uint8_t>& block);

// COM1..COM6 as a test hands them to its windows: these devices, and no
// device for the ports not named, so nothing reaches a port of the machine.
tarven::PortMap PortsOn(const std::map<int, std::string>& devices);
inline tarven::PortMap NoPorts() { return tarven::PortMap::None(); }

// A pseudo-terminal whose slave side a PortMap can open.
class Pty {
public:
    Pty();
    ~Pty();
    const std::string& Device() const { return device_; }

private:
    int master_ = -1;
    std::string device_;
};

// Runs the event loop until `done` holds; false after `timeoutMs`.
bool SpinUntil(const std::function<bool()>& done, int timeoutMs = 5000);

// Runs `step` once a modal widget of the named class is on top.
void WhenModal(const char* className, std::function<void(QWidget*)> step);

template <typename T>
void WhenModal(std::function<void(T*)> step) {
    WhenModal(T::staticMetaObject.className(), [step](QWidget* w) { step(static_cast<T*>(w)); });
}

// Clicks the control of `dialog` with this template id (a button or radio).
void ClickControl(const QWidget* dialog, int id);

}  // namespace tarven::test
