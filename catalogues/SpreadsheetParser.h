#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// One course of the course list spreadsheet with the bullet items that follow
// it in the tab-delimited export.
struct SpreadsheetRow {
    std::string courseTitle;
    std::string subtitle;
    std::string courseKey;
    std::string vodKey;
    std::string productCode;
    std::string introText;
    std::vector<std::string> bullets;
};

// White space as script regular expressions see it (\s): the ASCII controls
// TAB to CR, space, and the Unicode space separators, line separators and BOM.
bool IsScriptSpace(char32_t c);

// A bullet line: optional white space, "-", white space, then text without a
// line break, trailing white space allowed.
bool IsBulletLine(std::string_view line);
// The item of a bullet line: trailing white space dropped, and a leading
// "white space, hyphen, white space" removed. A line that starts with the
// hyphen itself keeps its "- ".
std::string BulletText(std::string_view line);

// Splits a record line into its six columns (bullets left empty).
SpreadsheetRow SplitRecordLine(std::string_view line);

// The rows of a decoded export, header line dropped, in file order.
std::vector<SpreadsheetRow> ParseSpreadsheetText(std::string_view text);

// The rows of an export one at a time, from its decoded lines one at a time
// (without their LF), so that only a row is held, never the export.
class SpreadsheetRows {
public:
    // Puts the next line in its argument; false at the end.
    using NextLine = std::function<bool(std::string&)>;
    explicit SpreadsheetRows(NextLine nextLine) : m_nextLine(std::move(nextLine)) {}
    // The next row, header line dropped; false at the end.
    bool Next(SpreadsheetRow& row);

private:
    // The next line that is not empty into m_line; false at the end.
    bool Advance();

    NextLine m_nextLine;
    std::string m_line;
    bool m_hasLine = false;  // m_line is read and not yet taken
    bool m_started = false;  // the header line is past
};

// The catalogue lines of one row, replacements applied, each ending in LF.
std::string CourseDescriptionLine(const SpreadsheetRow& row);
std::string VodInfoLine(const SpreadsheetRow& row);

// The character replacements every catalogue line passes through, in order.
std::string ApplyCatalogueReplacements(std::string line);
