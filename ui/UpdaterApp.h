// The application object: it owns the Qt application, runs the main window
// modally once, and then the program ends.
#pragma once

#include <QApplication>
#include <QIcon>


namespace tarven {

// The program's icon (resource 128), for every window of the program.
QIcon ApplicationIcon();

class UpdaterApp {
public:
    UpdaterApp(int& argc, char** argv);
    ~UpdaterApp();
    UpdaterApp(const UpdaterApp&) = delete;
    UpdaterApp& operator=(const UpdaterApp&) = delete;

    // Runs the main window until it closes; the program's exit status.
    int Run();

private:
    QApplication app_;
};

}  // namespace tarven
