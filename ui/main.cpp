#include "PortMap.h"
#include "UiProgram.h"
#include "UpdaterApp.h"

int main(int argc, char** argv) {
    // What the program keeps for its whole run lives here, and nowhere else.
    tarven::UiProgram program;
    tarven::UpdaterApp app(argc, argv, program, tarven::PortMap::Machine());
    return app.Run();
}
