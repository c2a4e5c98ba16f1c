// Records the install folder in a store file at install time, by the same
// rules the programs read and write it with (other lines, a byte-order mark
// and CR LF line ends are kept; a store that cannot be read is left alone).
#include <iostream>

#include "app/InstallStore.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: quarvel-record-install-folder STORE FOLDER\n";
        return 2;
    }
    if (const std::error_code ec = RecordInstallFolder(argv[1], argv[2])) {
        std::cerr << "Could not record the install folder in '" << argv[1] << "': " << ec.message() << ".\n";
        return 1;
    }
    return 0;
}
