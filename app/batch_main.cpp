#include "app/BatchMain.h"
#include "platform/Process.h"

int main(int argc, char** argv) {
    platform::RaiseOpenFileLimit();
    return RunBatch(argc, argv);
}
