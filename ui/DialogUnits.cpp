#include "DialogUnits.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QWidget>

#include <algorithm>

namespace tarven {

DialogBaseUnits BaseUnitsFor(const QFont& font) {
    const QFontMetrics fm(font);
    // Windows measures the alphabet, not one glyph, and rounds to nearest.
    const int width = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return DialogBaseUnits{(width / 26 + 1) / 2, fm.height()};
}

QRect DialogUnitsToPixels(const QRect& du, const DialogBaseUnits& base) {
    auto mx = [&](int v) { return (v * base.x + 2) / 4; };
    auto my = [&](int v) { return (v * base.y + 4) / 8; };
    return QRect(mx(du.x()), my(du.y()), mx(du.width()), my(du.height()));
}

namespace {

// The one-line caption of a control. A wrapping label only one line high
// would show its first word alone, so it is treated as one line.
QString Caption(QWidget* w) {
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
    auto* label = qobject_cast<QLabel*>(w);
    if (!label || label->textFormat() == Qt::RichText) return {};
    if (label->wordWrap()) {
        if (label->height() >= 2 * label->fontMetrics().height()) return {};
        label->setWordWrap(false);
    }
    return label->text();
}

Qt::Alignment HorizontalAlignment(const QWidget* w) {
    if (auto* label = qobject_cast<const QLabel*>(w)) return label->alignment() & Qt::AlignHorizontal_Mask;
    if (qobject_cast<const QAbstractButton*>(w) && !w->inherits("QRadioButton") && !w->inherits("QCheckBox"))
        return Qt::AlignHCenter;
    return Qt::AlignLeft;
}

// How far `w` may reach left and right without touching another control,
// crossing the frame of a group box it sits in, or leaving the dialog.
std::pair<int, int> FreeSpan(const QWidget* dialog, const QWidget* w) {
    constexpr int kGap = 2;
    const QRect r = w->geometry();
    int left = kGap, right = dialog->width() - kGap;
    for (QObject* child : dialog->children()) {
        auto* other = qobject_cast<QWidget*>(child);
        if (!other || other == w || other->isWindow()) continue;
        const QRect o = other->geometry();
        if (qobject_cast<QGroupBox*>(other) && o.contains(r)) {
            left = std::max(left, o.left() + kGap * 3);
            right = std::min(right, o.right() - kGap * 3);
            continue;
        }
        if (o.bottom() < r.top() || o.top() > r.bottom()) continue;
        if (o.left() >= r.right()) right = std::min(right, o.left() - kGap);
        else if (o.right() <= r.left()) left = std::max(left, o.right() + kGap);
    }
    return {left, right};
}

// Grows `w` to the smallest font step (down to a legible floor) at which its
// text fits, after the free room beside it; false when it still does not fit.
bool FitToText(QWidget* dialog, QWidget* w) {
    if (w->sizeHint().width() <= w->width()) return true;
    GrowIntoFreeRoom(dialog, w, w->sizeHint().width());
    QFont font = w->font();
    const qreal original = font.pointSizeF();
    const qreal smallest = original * 0.8;  // smaller than this stops being legible
    while (w->sizeHint().width() > w->width() && font.pointSizeF() - 0.5 >= smallest) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
        w->setFont(font);
    }
    return w->sizeHint().width() <= w->width();
}

}  // namespace

void GrowIntoFreeRoom(QWidget* dialog, QWidget* w, int neededWidth) {
    if (neededWidth <= w->width()) return;
    const auto [left, right] = FreeSpan(dialog, w);
    QRect r = w->geometry();
    auto growLeft = [&](int by) { r.setLeft(std::max(left, r.left() - std::max(by, 0))); };
    auto growRight = [&](int by) { r.setRight(std::min(right, r.right() + std::max(by, 0))); };
    // Grow on the side the alignment anchors away from; when that side is
    // blocked, take what the other side has.
    const Qt::Alignment align = HorizontalAlignment(w);
    if (align & Qt::AlignRight) {
        growLeft(neededWidth - r.width());
        growRight(neededWidth - r.width());
    } else if (align & Qt::AlignHCenter) {
        const int half = (neededWidth - r.width() + 1) / 2;
        growLeft(half);
        growRight(half);
        growLeft(neededWidth - r.width());
    } else {
        growRight(neededWidth - r.width());
        growLeft(neededWidth - r.width());
    }
    w->setGeometry(r);
}

namespace {

// A caption wider than its control first takes free room beside it (the
// arrangement stays the template's), then a slightly smaller font; what still
// does not fit shows whole in a tooltip.
void FitCaption(QWidget* dialog, QWidget* w) {
    const QString text = Caption(w);
    if (text.isEmpty() || FitToText(dialog, w)) return;
    if (w->toolTip().isEmpty()) w->setToolTip(text);
}

}  // namespace

void FitLabelForWidest(QWidget* dialog, QLabel* label, const QString& widest) {
    const QString shown = label->text();
    label->setText(widest);
    FitToText(dialog, label);
    label->setText(shown);
}

void ApplyDialogUnits(QWidget* dialog) {
    const DialogBaseUnits base = BaseUnitsFor(dialog->font());
    const QSize du = dialog->size();
    for (QObject* child : dialog->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (!widget || widget->isWindow()) continue;
        widget->setGeometry(DialogUnitsToPixels(widget->geometry(), base));
    }
    const QRect px = DialogUnitsToPixels(QRect(QPoint(0, 0), du), base);
    dialog->setFixedSize(px.size());
    for (QObject* child : dialog->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget && !widget->isWindow()) FitCaption(dialog, widget);
    }
}

}  // namespace tarven
