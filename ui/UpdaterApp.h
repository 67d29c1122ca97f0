// The application object: it owns the Qt application, runs the main window
// modally once, and then the program ends.
#pragma once

#include <QApplication>
#include <QIcon>

#include "PortMap.h"
#include "UiProgram.h"

namespace tarven {

// The program's icon (resource 128), for every window of the program.
QIcon ApplicationIcon();

class UpdaterApp {
public:
    // `program` is main's, and outlives the application; `ports` are the
    // ones its window offers.
    UpdaterApp(int& argc, char** argv, UiProgram& program, PortMap ports);
    ~UpdaterApp();
    UpdaterApp(const UpdaterApp&) = delete;
    UpdaterApp& operator=(const UpdaterApp&) = delete;

    // Runs the main window until it closes; the program's exit status.
    int Run();

private:
    QApplication app_;
    UiProgram& program_;
    PortMap ports_;
};

}  // namespace tarven
