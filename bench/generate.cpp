// Writes benchmark inputs:
//   quarvel-bench-gen install DIR [DESCRIPTION_LINES [VOD_LINES [SPREADSHEET_ROWS]]]
//   quarvel-bench-gen courses DIR COUNT
//   quarvel-bench-gen videos DIR COUNT
#include <cstdio>
#include <cstdlib>
#include <string>

#include "CourseLibrary.h"

int main(int argc, char** argv) {
    const std::string what = argc > 2 ? argv[1] : "";
    const auto number = [&](int i) { return argc > i ? std::atoi(argv[i]) : 0; };
    if (what == "install") {
        courselib::GenerateInstallation(argv[2], {number(3), number(4), number(5)});
    } else if (what == "courses" && argc == 4) {
        courselib::GenerateCourses(argv[2], number(3));
    } else if (what == "videos" && argc == 4) {
        courselib::GenerateVideos(argv[2], number(3));
    } else {
        std::fprintf(stderr, "usage: quarvel-bench-gen install|courses|videos DIR [COUNT...]\n");
        return 2;
    }
    return 0;
}
