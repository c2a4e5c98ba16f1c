// Times the counting pass a job makes before it starts, so that its progress
// can show a total:
//   quarvel-bench-count courses|videos FOLDER [REPETITIONS]
// prints the count and each repetition's wall time. The first repetition
// meets the cache as the caller left it (bench/README.md drops it first).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bundle/CountBundles.h"

int main(int argc, char** argv) {
    const std::string what = argc > 2 ? argv[1] : "";
    if (what != "courses" && what != "videos") {
        std::fprintf(stderr, "usage: quarvel-bench-count courses|videos FOLDER [REPETITIONS]\n");
        return 2;
    }
    const int repetitions = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1;
    for (int i = 0; i < repetitions; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const int count = what == "courses" ? CountCourseBundles(argv[2]) : CountVodVideos(argv[2]);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        std::printf("%d %s counted in %.4f s\n", count, what.c_str(), took.count());
    }
    return 0;
}
