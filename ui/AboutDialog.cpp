#include "AboutDialog.h"

#include <QPushButton>

#include "DialogTemplate.h"
#include "MessageBox.h"
#include "UpdaterApp.h"
#include "ui_AboutDialog.h"

namespace tarven {

namespace {
constexpr int kTemplateFontPoints = 8;
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::AboutDialog>()) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle(ApplicationTitle());
    FinishTemplate(this, kTemplateFontPoints);
    const QSize iconSize = ui_->labelIcon->size();
    ui_->labelIcon->setPixmap(ApplicationIcon().pixmap(std::min(iconSize.width(), iconSize.height())));
    connect(ui_->buttonThanks, &QPushButton::clicked, this, &AboutDialog::accept);
}

AboutDialog::~AboutDialog() = default;

}  // namespace tarven
