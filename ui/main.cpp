#include "UpdaterApp.h"

int main(int argc, char** argv) {
    tarven::UpdaterApp app(argc, argv);
    return app.Run();
}
