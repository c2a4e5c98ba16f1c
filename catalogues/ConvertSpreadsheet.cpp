#include "catalogues/ConvertSpreadsheet.h"

#include <cstring>
#include <functional>
#include <optional>
#include <tuple>

#include "catalogues/LineReader.h"
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

namespace {

// Goes through the export's rows, decoded, read line by line from the file.
// Fails with the reason a read failed; a NUL byte fails with
// illegal_byte_sequence, before any row that follows it is handed on.
std::error_code ForEachRow(const platform::ReadableFile& file, const std::function<bool(const SpreadsheetRow&)>& take) {
    // NUL bytes are looked for as the bytes come in, not in lines: binary
    // data may hold no line end at all.
    const LineReader::ReadAt read = ReadFrom(file);
    LineReader lines([&read](std::uint64_t offset, char* buffer, std::size_t length, std::size_t& got) {
        if (const std::error_code ec = read(offset, buffer, length, got)) return ec;
        if (std::memchr(buffer, '\0', got)) return std::make_error_code(std::errc::illegal_byte_sequence);
        return std::error_code();
    });
    SpreadsheetRows rows([&lines](std::string& line) {
        std::string_view bytes;
        if (!lines.Next(bytes)) return false;
        // The code page has no byte sequence that holds an LF: a line decodes on its own.
        line = platform::AnsiToUtf8(bytes);
        return true;
    });
    for (SpreadsheetRow row; rows.Next(row);) {
        if (!take(row)) break;
    }
    return lines.Error();
}

// Appends the catalogue lines `lineOf` makes of each row, after an LF that
// starts them on a fresh line, as one append of `measure`'s bytes: an
// interruption, or an export that changed since it was measured, leaves the
// catalogue as it was.
std::error_code AppendRows(const platform::ReadableFile& spreadsheet, platform::LockedAppend& catalogue,
                           const platform::AppendMeasure& measure, std::string (*lineOf)(const SpreadsheetRow&)) {
    std::error_code ec = catalogue.BeginAppend(measure);
    if (!ec) ec = catalogue.AppendMore("\n");
    if (ec) return ec;
    const std::error_code readFailed =
        ForEachRow(spreadsheet, [&](const SpreadsheetRow& row) { return !(ec = catalogue.AppendMore(lineOf(row))); });
    if (ec) return ec;
    // An unfinished append is cut back when the catalogue closes.
    if (readFailed) return readFailed;
    return catalogue.FinishAppend();
}

// The export, open, with what each catalogue's append would be; or why it cannot be converted.
struct MeasuredExport {
    platform::ReadableFile spreadsheet;
    platform::AppendMeasure course;
    platform::AppendMeasure vod;
    std::optional<SpreadsheetResult> refused;
};

MeasuredExport MeasureExport(const std::string& install) {
    MeasuredExport measured;
    const std::string spreadsheetPath = install + "/spreadsheet.txt";
    std::error_code ec;
    // Read line by line, three times (to measure the appends, then once for
    // each catalogue): an export of any size costs its longest row.
    measured.spreadsheet = OpenForReading(spreadsheetPath, ec);
    const platform::ReadableFile& spreadsheet = measured.spreadsheet;
    const auto refuse = [&measured](std::string why) {
        measured.refused = SpreadsheetResult{false, std::move(why)};
        return std::move(measured);
    };
    if (!spreadsheet) return refuse(Problem(spreadsheetPath, "read", ec));
    std::string head(2, '\0');
    std::size_t got = 0;
    if ((ec = spreadsheet.ReadAt(0, head.data(), head.size(), got)))
        return refuse(Problem(spreadsheetPath, "read", ec));
    head.resize(got);
    // Decoded as one byte per character, UTF-16 or binary data would become
    // lines of rubbish in both catalogues.
    if (head == "\xFF\xFE" || head == "\xFE\xFF") {
        return refuse("'" + platform::DisplayPath(spreadsheetPath) +
                      "' is UTF-16 text (saved as \"Unicode text\"): save the course list as \"Text (Tab "
                      "delimited)\" and run again." +
                      kUnchanged);
    }
    platform::AppendMeasure& courseMeasure = measured.course;
    platform::AppendMeasure& vodMeasure = measured.vod;
    courseMeasure.Add("\n");
    vodMeasure.Add("\n");
    ec = ForEachRow(spreadsheet, [&](const SpreadsheetRow& row) {
        courseMeasure.Add(CourseDescriptionLine(row));
        vodMeasure.Add(VodInfoLine(row));
        return true;
    });
    if (ec == std::errc::illegal_byte_sequence) {
        return refuse("'" + platform::DisplayPath(spreadsheetPath) + "' is not text: it holds NUL bytes." + kUnchanged);
    }
    if (ec) return refuse(Problem(spreadsheetPath, "read", ec));
    return measured;
}

}  // namespace

SpreadsheetResult PreviewSpreadsheet(const std::string& install) {
    const MeasuredExport measured = MeasureExport(install);
    if (measured.refused) return *measured.refused;
    for (const char* name : {"/HTML course descriptions.txt", "/VOD info.txt"}) {
        if (!platform::FindFirst(install + name)) {
            return {false,
                    Problem(install + name, "opened", std::make_error_code(std::errc::no_such_file_or_directory))};
        }
    }
    return {true, {}};
}

SpreadsheetResult ConvertSpreadsheet(const std::string& install) {
    MeasuredExport measured = MeasureExport(install);
    if (measured.refused) return *measured.refused;
    const platform::ReadableFile& spreadsheet = measured.spreadsheet;
    const platform::AppendMeasure& courseMeasure = measured.course;
    const platform::AppendMeasure& vodMeasure = measured.vod;
    std::error_code ec;

    // Both catalogues must open before either receives anything; they are
    // always locked in this order, so two runs at once cannot wait on each other.
    const std::string coursePath = install + "/HTML course descriptions.txt";
    const std::string vodPath = install + "/VOD info.txt";
    platform::LockedAppend courseCatalogue, vodCatalogue;
    if ((ec = OpenCatalogueForAppending(coursePath, courseCatalogue)))
        return {false, Problem(coursePath, "opened", ec)};
    if ((ec = OpenCatalogueForAppending(vodPath, vodCatalogue))) return {false, Problem(vodPath, "opened", ec)};

    // Each catalogue gets its whole append as one, so an interruption leaves
    // it with all of this run's lines or none. Both opened a moment ago, so a
    // failure here is rare (a full disk). A failed append leaves its file as it was.
    if ((ec = AppendRows(spreadsheet, courseCatalogue, courseMeasure, CourseDescriptionLine))) {
        return {false, Problem(coursePath, "written", ec)};
    }
    if ((ec = AppendRows(spreadsheet, vodCatalogue, vodMeasure, VodInfoLine))) {
        return {false, "'" + platform::DisplayPath(vodPath) + "' could not be written: " + ec.message() +
                           ". 'HTML course descriptions.txt' was updated; 'VOD info.txt' was not changed."};
    }
    return {true, {}};
}
