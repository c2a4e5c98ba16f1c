#pragma once

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

// The catalogue lines of one row, replacements applied, each ending in LF.
std::string CourseDescriptionLine(const SpreadsheetRow& row);
std::string VodInfoLine(const SpreadsheetRow& row);

// The character replacements every catalogue line passes through, in order.
std::string ApplyCatalogueReplacements(std::string line);
