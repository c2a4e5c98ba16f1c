#include "app/BatchMain.h"

int main(int argc, char** argv) {
    return RunBatch(argc, argv);
}
