// The About box: the application icon, two credit lines and "MERCI".
#pragma once

#include <memory>

#include <QDialog>

namespace Ui {
class AboutDialog;
}

namespace tarven {

class AboutDialog : public QDialog {
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent);
    ~AboutDialog() override;

private:
    std::unique_ptr<Ui::AboutDialog> ui_;
};

}  // namespace tarven
