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

UpdaterApp::UpdaterApp(int& argc, char** argv, UiProgram& program, PortMap ports)
    : app_(argc, argv), program_(program), ports_(std::move(ports)) {
    QApplication::setApplicationName(QStringLiteral("tarven-updater"));
    QApplication::setWindowIcon(ApplicationIcon());
}

UpdaterApp::~UpdaterApp() = default;

int UpdaterApp::Run() {
    MainDialog window(program_, ports_);
    window.exec();
    // Whatever the window's result, the program ends here.
    return 0;
}

}  // namespace tarven
