#include <QApplication>

#include "gui/CquarvelApp.h"
#include "platform/Process.h"

int main(int argc, char** argv) {
    platform::RaiseOpenFileLimit();
    // The program takes no arguments, not even Qt's own: Qt sees only its name.
    static char programName[] = "quarvel";
    char* qtArgv[] = {argc > 0 ? argv[0] : programName, nullptr};
    int qtArgc = 1;
    QApplication application(qtArgc, qtArgv);
    CquarvelApp app;
    app.InitInstance();
    return app.ExitStatus();
}
