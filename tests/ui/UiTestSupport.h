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

// A program whose message boxes, of every window it is handed to, only
// collect their texts.
class Messages {
public:
    Messages();
    ~Messages();
    UiProgram program;
    QStringList texts;
    // Called with each text as its box would be shown.
    std::function<void(const QString&)> onMessage;

private:
    MessageHook savedProcessHook_;
};

// What a run was handed when its worker was started.
struct StartedRun {
    int mode = 0;
    std::string fileName;
    std::int32_t imageKind = 0;
    AccessLevel accessLevel = AccessLevel(-1);
    std::int32_t sendingFlag = -1;
};

// Takes the link worker's place: when a TransferDialog starts its run, the
// script is called with the dialog to report to and the live engine, and its
// return value is what starting the worker returned.
class FakeWorker {
public:
    using Script = std::function<int(LinkNotifier*, LinkEngine*)>;
    explicit FakeWorker(Script script);
    ~FakeWorker();
    std::vector<StartedRun> runs;

    // Scripts for the common endings.
    static Script Finishing(int result);  // a transfer ending with Finished{result}
    static Script Silent();               // a worker that reports nothing
    static Script VersionBlock(const std::vector<std::uint8_t>& block);

private:
    TransferModel::WorkerStarter saved_;
};

// COM1..COM6 for this test, as its windows are handed them; unnamed ports
// have no device. The runs' own way to a port sees the same devices.
class MappedPorts {
public:
    explicit MappedPorts(const std::map<int, std::string>& devices);
    ~MappedPorts();
    const tarven::PortMap& Map() const { return map_; }
    static void Reset();  // the runs' ports all mapped to paths that do not exist

private:
    tarven::PortMap map_;
};

// No port at all.
tarven::PortMap NoPorts();

// A pseudo-terminal whose slave side ProbePort can open.
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
