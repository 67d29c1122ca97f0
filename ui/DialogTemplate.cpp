#include "DialogTemplate.h"

#include <QFont>
#include <QVariant>
#include <QWidget>

#include "DialogUnits.h"

namespace tarven {

namespace {
constexpr int kDefaultTemplatePoints = 8;
}

QWidget* FindControl(const QWidget* dialog, int id) {
    for (QObject* child : dialog->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (!widget) continue;
        const QVariant value = widget->property("controlId");
        if (value.isValid() && value.toInt() == id) return widget;
    }
    return nullptr;
}

void UseTemplateFontSize(QWidget* dialog, int points) {
    if (points == kDefaultTemplatePoints) return;
    QFont font = dialog->font();
    if (font.pointSizeF() > 0) font.setPointSizeF(font.pointSizeF() * points / kDefaultTemplatePoints);
    else if (font.pixelSize() > 0) font.setPixelSize(font.pixelSize() * points / kDefaultTemplatePoints);
    dialog->setFont(font);
}

void FinishTemplate(QWidget* dialog, int fontPoints) {
    UseTemplateFontSize(dialog, fontPoints);
    ApplyDialogUnits(dialog);
}

}  // namespace tarven
