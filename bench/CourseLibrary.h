#pragma once

#include <filesystem>
#include <string>

// Generates realistic course libraries and installations for the benchmark and
// the fault-injection tests: mixed bundle layouts (a third last prepared for
// xAPI), settings files of about 150 lines, question files of about 50 KB, and
// a template folder of about 60 asset files (about 3 MB).
namespace courselib {

struct InstallOptions {
    int descriptionCatalogueLines = 0;  // lines of "HTML course descriptions.txt"
    int vodCatalogueLines = 0;          // lines of "VOD info.txt"
    int spreadsheetRows = 0;            // rows of spreadsheet.txt
};

void GenerateInstallation(const std::filesystem::path& install, const InstallOptions& options = {});
// `count` course bundles below `root`, named course0000 and so on, in four layouts.
void GenerateCourses(const std::filesystem::path& root, int count, unsigned seed = 1);
// `count` videos with subtitles below `root`, spread over two folder levels.
void GenerateVideos(const std::filesystem::path& root, int count);
// The byte count of one generated question.xml (the same for every bundle).
std::size_t QuestionFileSize();

}  // namespace courselib
