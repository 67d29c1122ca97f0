#include "TransferDialog.h"

#include <algorithm>
#include <cstring>

#include <QFile>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "DialogTemplate.h"
#include "DialogUnits.h"
#include "GuiLinkNotifier.h"
#include "LinkEngine.h"
#include "MessageHook.h"
#include "UpdaterCore.h"
#include "ui_TransferDialog.h"

namespace tarven {

namespace {

constexpr int kTemplateFontPoints = 10;
// After a version block the window stays up a moment, so the full bar is seen.
constexpr int kVersionCloseDelayMs = 200;
// The status text is composed in a buffer of this many characters, the
// terminating zero included: a text that fits it is always shown whole.
constexpr int kStatusTextBuffer = 52;
// Pixels kept between the status line and the bar below it.
constexpr int kStatusGap = 2;
// The widest counter a run can show: five-digit read-back totals.
constexpr int kWidestCounterKb = 99999;
// Qt shows a range of 0..0 as a busy bar that moves by itself; a range of
// one step held at its start stays still and empty instead.
constexpr int kStillBarMaximum = 1;

int g_progressTotalKb = 0;

// Breaks `line` after its first word when the rest fits one line, else after
// the most characters the first line holds.
QString WrapOnTwoLines(const QString& line, const QFontMetrics& metrics, int width) {
    const qsizetype blank = line.indexOf(QLatin1Char(' '));
    if (blank > 0 && metrics.horizontalAdvance(line.mid(blank + 1)) <= width)
        return line.left(blank) + QLatin1Char('\n') + line.mid(blank + 1);
    qsizetype split = line.size();
    while (split > 1 && metrics.horizontalAdvance(line.left(split)) > width) --split;
    return line.left(split) + QLatin1Char('\n') + line.mid(split);
}

TransferDialog::WorkerStarter& CurrentStarter() {
    static TransferDialog::WorkerStarter starter;
    return starter;
}

}  // namespace

int ProgressTotalKb() { return g_progressTotalKb; }
void SetProgressTotalKb(int totalKb) { g_progressTotalKb = totalKb; }

TransferDialog::TransferDialog(const PortSettings& settings, QWidget* parent)
    : QDialog(parent), portSettings(settings), ui_(std::make_unique<Ui::TransferDialog>()) {
    ui_->setupUi(this);
    // A title bar but no close box: the run ends through "Annuler".
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    FinishTemplate(this, kTemplateFontPoints);
    statusText_ = ui_->labelStatus->text();
    FitLabelForWidest(this, ui_->labelCounter, FormatKbCounter(kWidestCounterKb, kWidestCounterKb));
    connect(ui_->buttonCancel, &QPushButton::clicked, this, &TransferDialog::reject);
}

TransferDialog::~TransferDialog() {
    // The worker reports to this object: it must be gone before we are.
    if (!finished_) StopLink();
}

TransferDialog::WorkerStarter TransferDialog::SetWorkerStarter(WorkerStarter starter) {
    WorkerStarter previous = std::move(CurrentStarter());
    CurrentStarter() = std::move(starter);
    return previous;
}

void TransferDialog::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (started_) return;
    started_ = true;
    // Started from the event loop rather than from inside the show, so a
    // message box about a failed start never runs within showing the window.
    QMetaObject::invokeMethod(this, &TransferDialog::StartRun, Qt::QueuedConnection);
}

void TransferDialog::StartRun() {
    if (finished_) return;
    const bool transfer = runResult == 1;
    // The update and read-back commands bring their own engine; a version
    // read leaves it to the dialog.
    if (!LiveLinkEngine()) SetLiveLinkEngine(new LinkEngine(portSettings, transfer ? kModeUpload : kModeVersionQuery));
    // Only a finishing message gives the run its result.
    if (transfer) runResult = 0;
    const WorkerStarter& starter = CurrentStarter();
    const int running = starter ? starter(this) : StartLinkWorker(this);
    if (running) return;
    ShowMessage(this, QStringLiteral("Fail to create Multi-Thread!"));
    StopLink();
}

void TransferDialog::StopLink() {
    TerminateLinkWorker();
    if (LinkEngine* engine = LiveLinkEngine()) {
        delete engine;
        SetLiveLinkEngine(nullptr);
    }
}

bool TransferDialog::event(QEvent* e) {
    const auto type = static_cast<unsigned>(e->type());
    if (type != WM_LINK_EVENT && type != WM_LINK_PROGRESS) return QDialog::event(e);
    const auto* message = dynamic_cast<const LinkMessageEvent*>(e);
    // Messages still queued when the run has ended belong to nobody.
    if (!message || finished_ || closePending_) return true;
    if (type == WM_LINK_PROGRESS)
        OnLinkProgress(message->wParam(), message->lParam());
    else
        OnLinkEvent(message->wParam(), message->lParam());
    return true;
}

int TransferDialog::OnLinkProgress(std::intptr_t code, std::intptr_t value) {
    if (code == kProgressTotal) {
        SetProgressTotalKb(static_cast<int>(value));
        const int maximum = ProgressRangeMaximum(value);
        barHeldEmpty_ = maximum == 0;
        ui_->progressBar->setRange(0, barHeldEmpty_ ? kStillBarMaximum : maximum);
        if (!ShowsTransferText(value)) return 0;
        ui_->labelCounter->setText(FormatKbCounter(0, value));
        const LinkEngine* engine = LiveLinkEngine();
        const bool sending = engine && engine->sendingFlag;
        const QString name = engine ? QFile::decodeName(engine->fileName.c_str()) : QString();
        SetStatusLine(FormatStatusLine(sending, name));
    } else if (code == kProgressPosition) {
        // The bar, like the one it stands for, holds positions inside its range.
        const int top = barHeldEmpty_ ? ui_->progressBar->minimum() : ui_->progressBar->maximum();
        const int position =
            static_cast<int>(std::clamp<std::intptr_t>(value, ui_->progressBar->minimum(), top));
        ui_->progressBar->setValue(position);
        if (!ShowsTransferText(ProgressTotalKb())) return 0;
        ui_->labelCounter->setText(FormatKbCounter(value, ProgressTotalKb()));
    }
    return 0;
}

int TransferDialog::OnLinkEvent(std::intptr_t code, std::intptr_t value) {
    if (code == kEventVersionReady) {
        versionReady = 1;
        if (const LinkEngine* engine = LiveLinkEngine()) {
            const std::size_t n = std::min<std::size_t>(versionBlock.size(), engine->versionBuffer.size());
            std::memcpy(versionBlock.data(), engine->versionBuffer.data(), n);
        }
        // Waiting here must not freeze the window: a timer closes it. Until
        // then later messages and the cancel button are not acted on.
        closePending_ = true;
        QTimer::singleShot(kVersionCloseDelayMs, this, &TransferDialog::CloseWithOk);
    } else if (code == kEventFinished) {
        runResult = static_cast<std::int32_t>(value);
        // Written by the worker before it posted this event.
        if (const LinkEngine* engine = LiveLinkEngine()) uploadDoubt = engine->uploadDoubt.load();
        accept();
    } else {
        CloseWithCancel(false);
    }
    return 0;
}

void TransferDialog::CloseWithOk() {
    closePending_ = false;
    accept();
}

void TransferDialog::accept() {
    if (finished_) return;
    finished_ = true;
    closePending_ = false;
    StopLink();
    QDialog::accept();
}

void TransferDialog::reject() {
    if (closePending_) return;
    CloseWithCancel(true);
}

void TransferDialog::CloseWithCancel(bool byUser) {
    if (finished_) return;
    finished_ = true;
    StopLink();
    versionReady = 0;
    cancelled = byUser;
    QDialog::reject();
}

void TransferDialog::keyPressEvent(QKeyEvent* e) {
    // Enter is the OK command of the window unless a button has the focus.
    const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
    if (enter && !qobject_cast<QPushButton*>(focusWidget())) {
        accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

void TransferDialog::SetStatusLine(const QString& text) {
    statusText_ = text;
    QLabel* label = ui_->labelStatus;
    QString line = text;
    const bool lineBreak = line.endsWith(QLatin1Char('\n'));
    if (lineBreak) line.chop(1);
    const QFontMetrics metrics(label->font());
    GrowIntoFreeRoom(this, label, metrics.horizontalAdvance(line));
    if (metrics.horizontalAdvance(line) > label->width() && text.size() < kStatusTextBuffer) {
        // The technician checks the name just typed: a text the buffer holds
        // whole takes a second line rather than losing its middle.
        label->setText(WrapOnTwoLines(line, metrics, label->width()) + (lineBreak ? QStringLiteral("\n") : QString()));
        const int height = 2 * metrics.lineSpacing();
        const int top = std::min(label->y(), ui_->progressBar->y() - kStatusGap - height);
        label->setGeometry(label->x(), std::max(0, top), label->width(), height);
        return;
    }
    // A longer name is shortened in the middle, which keeps the direction and
    // the file's end.
    line = metrics.elidedText(line, Qt::ElideMiddle, label->width());
    label->setText(lineBreak ? line + QLatin1Char('\n') : line);
}

QString TransferDialog::StatusText() const { return statusText_; }

QString TransferDialog::CounterText() const { return ui_->labelCounter->text(); }

void TransferDialog::PostLinkMessage(unsigned message, std::intptr_t wParam, std::intptr_t lParam) {
    PostLinkEvent(this, message, wParam, lParam);
}

void TransferDialog::ShowMessageBox(const std::string& text, std::stop_token stop) {
    ShowMessageFromAnyThread(QString::fromStdString(text), stop);
}

}  // namespace tarven
