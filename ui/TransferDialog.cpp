#include "TransferDialog.h"

#include <cmath>

#include <QFile>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "DialogTemplate.h"
#include "DialogUnits.h"
#include "GuiLinkNotifier.h"
#include "MessageHook.h"
#include "ui_TransferDialog.h"

namespace tarven {

namespace {

constexpr int kTemplateFontPoints = 10;
// Pixels kept between the status line and the bar below it.
constexpr int kStatusGap = 2;
// The widest counter a run can show: five-digit read-back totals.
constexpr int kWidestCounterKb = 99999;
// Qt shows a range of 0..0 as a busy bar that moves by itself; a range of
// one step held at its start stays still and empty instead.
constexpr int kStillBarMaximum = 1;

// Whether `line` shows uncut in `width` pixels. Asked of the eliding itself:
// on a real display the glyphs have fractional advances, and the rounded
// width horizontalAdvance gives can be a pixel short of what elidedText needs.
bool FitsWhole(const QString& line, const QFontMetrics& metrics, int width) {
    return metrics.elidedText(line, Qt::ElideMiddle, width) == line;
}

// The whole pixels `line` needs, its fractional advance rounded up.
int WidthFor(const QString& line, const QFont& font) {
    return static_cast<int>(std::ceil(QFontMetricsF(font).horizontalAdvance(line)));
}

// Breaks `line` after its first word when the rest fits one line, else after
// the most characters the first line holds.
QString WrapOnTwoLines(const QString& line, const QFontMetrics& metrics, int width) {
    const qsizetype blank = line.indexOf(QLatin1Char(' '));
    if (blank > 0 && FitsWhole(line.mid(blank + 1), metrics, width))
        return line.left(blank) + QLatin1Char('\n') + line.mid(blank + 1);
    qsizetype split = line.size();
    while (split > 1 && !FitsWhole(line.left(split), metrics, width)) --split;
    return line.left(split) + QLatin1Char('\n') + line.mid(split);
}

}  // namespace

TransferDialog::TransferDialog(UiProgram& program, const RunRequest& request, SessionFactory sessions, QWidget* parent)
    : QDialog(parent),
      program_(program),
      ui_(std::make_unique<Ui::TransferDialog>()),
      model_(*this, program.State(), request, std::move(sessions)) {
    ui_->setupUi(this);
    // A title bar but no close box: the run ends through "Annuler".
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    FinishTemplate(this, kTemplateFontPoints);
    statusText_ = ui_->labelStatus->text();
    FitLabelForWidest(this, ui_->labelCounter,
                      QString::fromStdString(FormatKbCounter(kWidestCounterKb, kWidestCounterKb)));
    connect(ui_->buttonCancel, &QPushButton::clicked, this, &TransferDialog::reject);
}

// The model stops a run still going before the window it reports to goes.
TransferDialog::~TransferDialog() = default;

void TransferDialog::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (shown_) return;
    shown_ = true;
    // Started from the event loop rather than from inside the show, so a
    // message box about a failed start never runs within showing the window.
    QMetaObject::invokeMethod(
        this, [this] { model_.Start(*this); }, Qt::QueuedConnection);
}

bool TransferDialog::event(QEvent* e) {
    if (!IsLinkMessage(e)) return QDialog::event(e);
    if (const auto* message = dynamic_cast<const LinkMessageEvent*>(e)) model_.OnLinkEvent(message->Event());
    return true;
}

void TransferDialog::accept() { model_.OnOk(); }

void TransferDialog::reject() { model_.OnCancel(); }

void TransferDialog::EndDialog(bool accepted) {
    if (accepted) QDialog::accept();
    else QDialog::reject();
}

void TransferDialog::StartCloseDelay(int ms) {
    // Waiting here must not freeze the window: a timer ends the wait.
    QTimer::singleShot(ms, this, [this] { model_.OnCloseDelayOver(); });
}

void TransferDialog::StartWatch(int ms) {
    auto* watch = new QTimer(this);
    connect(watch, &QTimer::timeout, this, [this] { model_.OnWatch(); });
    watch->start(ms);
}

void TransferDialog::keyPressEvent(QKeyEvent* e) {
    // Enter is the OK command of the window unless a button has the focus.
    const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
    if (enter && !qobject_cast<QPushButton*>(focusWidget())) {
        model_.OnOk();
        return;
    }
    QDialog::keyPressEvent(e);
}

void TransferDialog::SetBarRange(int maximum) {
    ui_->progressBar->setRange(0, maximum == 0 ? kStillBarMaximum : maximum);
}

void TransferDialog::SetBarPosition(int position) { ui_->progressBar->setValue(position); }

void TransferDialog::ShowCounter(const std::string& text) { ui_->labelCounter->setText(QString::fromStdString(text)); }

void TransferDialog::ShowMessage(const std::string& text) {
    program_.Messages().Show(this, QString::fromStdString(text));
}

void TransferDialog::ShowStatus(const std::string& composed, bool keepWhole) {
    const QString text = QFile::decodeName(QByteArray::fromStdString(composed));
    statusText_ = text;
    QLabel* label = ui_->labelStatus;
    QString line = text;
    const bool lineBreak = line.endsWith(QLatin1Char('\n'));
    if (lineBreak) line.chop(1);
    const QFontMetrics metrics(label->font());
    GrowIntoFreeRoom(this, label, WidthFor(line, label->font()));
    if (!FitsWhole(line, metrics, label->width()) && keepWhole) {
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

void TransferDialog::OnLinkEvent(const LinkEvent& event) { PostLinkEvent(this, event); }

void TransferDialog::ShowMessageBox(const std::string& text, std::stop_token stop) {
    ShowMessageFromAnyThread(program_.Messages(), QString::fromStdString(text), stop);
}

}  // namespace tarven
