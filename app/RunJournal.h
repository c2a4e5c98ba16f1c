#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/RunRecordSystem.h"

// The journal of a run's undo record: one line for each thing the run
// changed, written before the change; read back as what each file was before
// the run and what the run left there.
namespace runjournal {

// A file the run changed, folded from all of its lines.
struct File {
    enum class Was {
        missing,  // the run created it
        kept,     // its old content is kept in the record as `kept`
        same,     // the run changed only its bits or times
    };
    std::string path;
    Was was = Was::missing;
    std::string kept;
    platform::EntryFacts before;  // kept, same: its owner, bits, size and times
    // What the run left there: size and last-write time, or nothing when it
    // deleted the file. Unknown when the run ended before it could say.
    struct After {
        bool exists = false;
        std::uint64_t size = 0;
        std::int64_t modified = 0;
    };
    std::optional<After> after;
};

struct Append {
    std::string path;
    std::uint64_t oldLength = 0;
    std::uint64_t newLength = 0;
    std::vector<std::uint64_t> checksums;
};

struct Run {
    std::string date;  // local time, "YYYY-MM-DD HH:MM"
    std::string job;   // "main", "vod", "spreadsheet"
    std::string folder;
    std::vector<std::string> roots;  // the folders the run could change
    std::vector<File> files;         // in the order they were first changed
    std::vector<std::string> folders;
    std::vector<Append> appends;
    std::vector<std::string> undone;  // when the run was taken back
    bool closed = false;              // the run ended, or its record was checked after it was cut short
};

// The lines, each ending in LF.
std::string HeaderLines(std::string_view date, std::string_view job, std::string_view folder,
                        const std::vector<std::string>& roots);
std::string CreatedLine(std::string_view path);
std::string KeptLine(std::string_view path, std::string_view kept, const platform::EntryFacts& facts);
std::string FactsLine(std::string_view path, const platform::EntryFacts& facts);
std::string AfterLine(std::string_view path, const platform::EntryFacts& facts);  // !exists: deleted
std::string FolderLine(std::string_view path);
std::string AppendLine(const Append& append);
std::string UndoneLine(std::string_view date);
// The change to `path` was not made after all: what the run kept of it is gone.
std::string VoidLine(std::string_view path);
std::string ClosedLine();

// The run a journal tells of; a torn last line is left out, so are lines it does not know.
Run Parse(std::string_view text);

}  // namespace runjournal
