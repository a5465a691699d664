// Entry point: the application object does the start-up.
#include "app/CTRQDiagApp.h"

int main(int argc, char** argv) {
    CTRQDiagApp app(argc, argv);
    if (!app.InitInstance()) return 1;
    return app.exec();
}
