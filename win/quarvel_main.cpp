#include <windows.h>

#include "win/CquarvelApp.h"

// The program takes no arguments: the command line is not read.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    CquarvelApp app;
    app.InitInstance();
    return app.ExitStatus();
}
