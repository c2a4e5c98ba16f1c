#include "catalogues/ConvertSpreadsheet.h"

#include <tuple>

#include "catalogues/SpreadsheetParser.h"
#include "platform/FileSystem.h"
#include "platform/LockedAppend.h"
#include "platform/Text.h"

namespace {

const char kUnchanged[] = " 'HTML course descriptions.txt' and 'VOD info.txt' were not changed.";

// Makes a read-only catalogue writable and opens it for appending, under its
// lock (another run's append waits). The catalogues are never created.
std::error_code OpenCatalogueForAppending(const std::string& path, platform::LockedAppend& catalogue) {
    if (platform::FindFirst(path)) std::ignore = platform::ClearReadOnly(path);
    return catalogue.Open(path, platform::CreateIfMissing::no);
}

std::string Problem(const std::string& path, const std::string& what, std::error_code ec) {
    return "'" + platform::DisplayPath(path) + "' could not be " + what + ": " + ec.message() + "." + kUnchanged;
}

}  // namespace

SpreadsheetResult ConvertSpreadsheet(const std::string& install) {
    const std::string spreadsheetPath = install + "/spreadsheet.txt";
    std::error_code ec;
    const std::optional<std::string> bytes = platform::ReadFileBytes(spreadsheetPath, ec);
    if (!bytes) return {false, Problem(spreadsheetPath, "read", ec)};
    // Decoded as one byte per character, UTF-16 or binary data would become
    // lines of rubbish in both catalogues.
    if (bytes->starts_with("\xFF\xFE") || bytes->starts_with("\xFE\xFF")) {
        return {false, "'" + platform::DisplayPath(spreadsheetPath) +
                           "' is UTF-16 text (saved as \"Unicode text\"): save the course list as \"Text (Tab "
                           "delimited)\" and run again." +
                           kUnchanged};
    }
    if (bytes->find('\0') != std::string::npos) {
        return {false,
                "'" + platform::DisplayPath(spreadsheetPath) + "' is not text: it holds NUL bytes." + kUnchanged};
    }
    const std::vector<SpreadsheetRow> rows = ParseSpreadsheetText(platform::AnsiToUtf8(*bytes));

    // Both catalogues must open before either receives anything; they are
    // always locked in this order, so two runs at once cannot wait on each other.
    const std::string coursePath = install + "/HTML course descriptions.txt";
    const std::string vodPath = install + "/VOD info.txt";
    platform::LockedAppend courseCatalogue, vodCatalogue;
    if ((ec = OpenCatalogueForAppending(coursePath, courseCatalogue)))
        return {false, Problem(coursePath, "opened", ec)};
    if ((ec = OpenCatalogueForAppending(vodPath, vodCatalogue))) return {false, Problem(vodPath, "opened", ec)};

    // Each catalogue gets its whole append in one write, so an interruption
    // leaves it with all of this run's lines or none. The leading LF starts
    // the run's lines on a fresh line.
    std::string courseLines = "\n";
    std::string vodLines = "\n";
    for (const SpreadsheetRow& row : rows) {
        courseLines += CourseDescriptionLine(row);
        vodLines += VodInfoLine(row);
    }
    // Both opened a moment ago, so a failure here is rare (a full disk). A
    // failed append leaves its file as it was.
    if ((ec = courseCatalogue.Append(courseLines))) {
        return {false, Problem(coursePath, "written", ec)};
    }
    if ((ec = vodCatalogue.Append(vodLines))) {
        return {false, "'" + platform::DisplayPath(vodPath) + "' could not be written: " + ec.message() +
                           ". 'HTML course descriptions.txt' was updated; 'VOD info.txt' was not changed."};
    }
    return {true, {}};
}
