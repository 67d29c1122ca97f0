#include "DialogUnits.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QWidget>

#include <algorithm>
#include <vector>

#include "CaptionRoom.h"

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

CaptionAnchor AnchorOf(const QWidget* w) {
    Qt::Alignment align = Qt::AlignLeft;
    if (auto* label = qobject_cast<const QLabel*>(w)) align = label->alignment() & Qt::AlignHorizontal_Mask;
    else if (qobject_cast<const QAbstractButton*>(w) && !w->inherits("QRadioButton") && !w->inherits("QCheckBox"))
        align = Qt::AlignHCenter;
    if (align & Qt::AlignRight) return CaptionAnchor::Right;
    if (align & Qt::AlignHCenter) return CaptionAnchor::Center;
    return CaptionAnchor::Left;
}

CaptionBox BoxOf(const QRect& r) { return {r.left(), r.top(), r.right(), r.bottom()}; }

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
    std::vector<OtherControl> others;
    for (QObject* child : dialog->children()) {
        auto* other = qobject_cast<QWidget*>(child);
        if (!other || other == w || other->isWindow()) continue;
        others.push_back({BoxOf(other->geometry()), qobject_cast<QGroupBox*>(other) != nullptr});
    }
    const CaptionBox r = GrowCaptionBox(BoxOf(w->geometry()), neededWidth, AnchorOf(w), dialog->width(), others);
    w->setGeometry(QRect(QPoint(r.left, r.top), QPoint(r.right, r.bottom)));
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
