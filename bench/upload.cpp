// The upload package of a course that holds one large asset: time and peak
// memory of zipping it. Usage: quarvel-bench-upload FOLDER [ASSET_MB]
// FOLDER is made and left for a look; the asset is incompressible, so the
// archive is as large as it.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "writers/UploadPackage.h"

namespace fs = std::filesystem;

namespace {

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void WriteAsset(const fs::path& path, long megabytes) {
    std::ofstream out(path, std::ios::binary);
    std::string piece(1u << 20, '\0');
    unsigned long long state = 88172645463325252ull;
    for (long i = 0; i < megabytes; ++i) {
        for (char& c : piece) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            c = static_cast<char>(state);
        }
        out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: quarvel-bench-upload FOLDER [ASSET_MB]\n");
        return 2;
    }
    const fs::path folder = fs::absolute(argv[1]);
    const long megabytes = argc > 2 ? std::atol(argv[2]) : 1024;
    const fs::path course = folder / "course";
    fs::create_directories(course / "media");
    fs::create_directories(folder / "install");
    std::ofstream(course / "imsmanifest.xml") << "<manifest identifier=\"course\"/>\n";
    WriteAsset(course / "media/video.mp4", megabytes);

    const long before = PeakKilobytes();
    const auto start = std::chrono::steady_clock::now();
    RunReport report;
    std::ignore =
        WriteUploadPackages({{course.string(), "course", "course"}},
                            {(folder / "install/upload packages").string(), {folder.string()}, false}, report);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("asset %ld MB: zip %.1f MB in %.1f s, peak memory %.1f MB (%.1f MB before zipping)\n", megabytes,
                static_cast<double>(fs::file_size(folder / "install/upload packages/course.zip")) / (1 << 20), seconds,
                PeakKilobytes() / 1024.0, before / 1024.0);
    if (report.problemNotes > 0) std::fprintf(stderr, "%s", report.updatedList.c_str());
    return report.problemNotes > 0 ? 1 : 0;
}
