// Dialog templates keep their controls' positions in dialog units, as the
// receiver's original tool was laid out. At construction a dialog turns them
// into pixels with its own font's metrics, so the arrangement stays the
// template's and the captions fit whatever font the desktop uses.
#pragma once

#include <QRect>
#include <QSize>

class QFont;
class QLabel;
class QWidget;

namespace tarven {

struct DialogBaseUnits {
    int x = 0;  // average character width: 4 dialog units
    int y = 0;  // character height: 8 dialog units
};

DialogBaseUnits BaseUnitsFor(const QFont& font);
QRect DialogUnitsToPixels(const QRect& du, const DialogBaseUnits& base);

// Converts the geometry of every direct child widget of `dialog` (as loaded
// from its .ui file, in dialog units) and the dialog's own size to pixels,
// then fixes the dialog's size. A caption that does not fit its control at
// this font takes free room beside it, then a slightly smaller font, so no
// caption is cut. Call once, right after setupUi.
void ApplyDialogUnits(QWidget* dialog);

// Widens `w` towards `neededWidth` pixels into the free room beside it (away
// from its alignment first), never over another control or out of the dialog.
void GrowIntoFreeRoom(QWidget* dialog, QWidget* w, int neededWidth);

// For a label whose text changes while the dialog is up: gives it the room
// (and, at worst, the slightly smaller font) that `widest` needs, as captions
// get at construction.
void FitLabelForWidest(QWidget* dialog, QLabel* label, const QString& widest);

}  // namespace tarven
