#pragma once

#include <string>

// What the spreadsheet job did, for the closing message.
struct SpreadsheetResult {
    bool updated = false;
    std::string problem;  // why nothing was appended, when not updated
};

// Appends the rows of "spreadsheet.txt" in `installFolder` to both description
// catalogues there. Both must open before either receives anything.
SpreadsheetResult ConvertSpreadsheet(const std::string& installFolder);
// What ConvertSpreadsheet would do, changing nothing: the export is read and
// checked as it would be, and both catalogues must be there; `updated` when
// both would take their lines.
SpreadsheetResult PreviewSpreadsheet(const std::string& installFolder);
