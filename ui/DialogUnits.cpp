#include "DialogUnits.h"

#include <QFontMetrics>
#include <QWidget>

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
}

}  // namespace tarven
