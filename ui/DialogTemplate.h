// Small helpers shared by the dialogs built from templates: finding a control
// by its numeric id, and sizing the font the way the template asks.
#pragma once

class QWidget;

namespace tarven {

// The control whose "controlId" property equals `id` among the dialog's
// direct children, or null. Several controls share -1: the first is returned.
QWidget* FindControl(const QWidget* dialog, int id);

template <class T>
T* FindControlAs(const QWidget* dialog, int id) {
    return qobject_cast<T*>(FindControl(dialog, id));
}

// Templates name their font size in points for a desktop whose dialog font is
// 8 points. The desktop's own font keeps its face and is scaled by points / 8,
// so a 10-point template comes out a little larger than the main window.
void UseTemplateFontSize(QWidget* dialog, int points);

// The main window and every dialog of the program set up from a template:
// the template's font size, then the conversion from dialog units.
void FinishTemplate(QWidget* dialog, int fontPoints);

}  // namespace tarven
