#include "UpdaterApp.h"

#include "MainDialog.h"

// The resources live in a static library; registering them by hand keeps the
// linker from dropping them.
static void RegisterResources() { Q_INIT_RESOURCE(resources); }

namespace tarven {

QIcon ApplicationIcon() {
    static const bool registered = (RegisterResources(), true);
    (void)registered;
    return QIcon(QStringLiteral(":/icons/app.png"));
}

UpdaterApp::UpdaterApp(int& argc, char** argv) : app_(argc, argv) {
    QApplication::setApplicationName(QStringLiteral("tarven-updater"));
    QApplication::setWindowIcon(ApplicationIcon());
}

UpdaterApp::~UpdaterApp() = default;

int UpdaterApp::Run() {
    MainDialog window;
    window.exec();
    // Whatever the window's result, the program ends here.
    return 0;
}

}  // namespace tarven
