#include "catalogues/SpreadsheetParser.h"

#include "catalogues/LineReader.h"
#include "platform/Text.h"

namespace {

bool IsLineTerminator(char32_t c) {
    return c == U'\n' || c == U'\r' || c == 0x2028 || c == 0x2029;
}

// Skips script white space from `pos`; returns how many code points it passed.
std::size_t SkipScriptSpace(std::string_view text, std::size_t& pos) {
    std::size_t count = 0;
    while (pos < text.size()) {
        std::size_t next = pos;
        if (!IsScriptSpace(platform::NextCodePoint(text, next))) break;
        pos = next;
        ++count;
    }
    return count;
}

// The text up to the next TAB from `pos`; `pos` moves past that TAB, or to
// npos when the line ends first.
std::string_view TakeUntilTab(std::string_view line, std::size_t& pos) {
    if (pos == std::string_view::npos || pos > line.size()) {
        pos = std::string_view::npos;
        return {};
    }
    const std::size_t tab = line.find('\t', pos);
    const std::string_view field = line.substr(pos, tab == std::string_view::npos ? std::string_view::npos : tab - pos);
    pos = tab == std::string_view::npos ? std::string_view::npos : tab + 1;
    return field;
}

std::string TrimmedColumn(std::string_view line, std::size_t& pos) {
    // TABs in a row are one separator here: an empty column shifts the rest left.
    if (pos != std::string_view::npos) pos = line.find_first_not_of('\t', pos);
    return std::string(platform::TrimAsciiSpace(TakeUntilTab(line, pos)));
}

void AppendItems(std::string& line, const SpreadsheetRow& row) {
    line += row.introText;
    line += "<ul>";
    for (const std::string& bullet : row.bullets) {
        line += "<li>";
        line += bullet;
        line += "</li>";
    }
    line += "</ul></p>\n";
}

}  // namespace

bool IsScriptSpace(char32_t c) {
    switch (c) {
        case U'\t':
        case U'\n':
        case U'\v':
        case U'\f':
        case U'\r':
        case U' ':
        case 0x00A0:
        case 0x1680:
        case 0x2028:
        case 0x2029:
        case 0x202F:
        case 0x205F:
        case 0x3000:
        case 0xFEFF:
            return true;
        default:
            return c >= 0x2000 && c <= 0x200A;
    }
}

bool IsBulletLine(std::string_view line) {
    // Hand-written instead of a regex engine: exports hold cells of many
    // megabytes, and backtracking engines recurse once per character.
    std::size_t pos = 0;
    SkipScriptSpace(line, pos);
    if (pos >= line.size() || line[pos] != '-') return false;
    ++pos;
    if (SkipScriptSpace(line, pos) == 0) return false;
    // The rest is text without a line break followed by white space only: a
    // line terminator may not be followed by anything but white space.
    bool terminatorPending = false;
    while (pos < line.size()) {
        const char32_t c = platform::NextCodePoint(line, pos);
        if (IsLineTerminator(c)) {
            terminatorPending = true;
        } else if (!IsScriptSpace(c) && terminatorPending) {
            return false;
        }
    }
    return true;
}

std::string BulletText(std::string_view line) {
    line = platform::TrimAsciiSpaceRight(line);
    std::size_t pos = 0;
    if (SkipScriptSpace(line, pos) > 0 && pos < line.size() && line[pos] == '-') {
        std::size_t after = pos + 1;
        if (SkipScriptSpace(line, after) > 0) return std::string(line.substr(after));
    }
    return std::string(line);
}

SpreadsheetRow SplitRecordLine(std::string_view line) {
    SpreadsheetRow row;
    std::size_t pos = 0;
    row.courseTitle = std::string(TakeUntilTab(line, pos));
    row.subtitle = std::string(TakeUntilTab(line, pos));
    row.courseKey = TrimmedColumn(line, pos);
    row.vodKey = TrimmedColumn(line, pos);
    row.productCode = TrimmedColumn(line, pos);
    if (pos != std::string_view::npos) row.introText = std::string(line.substr(pos));
    return row;
}

std::vector<SpreadsheetRow> ParseSpreadsheetText(std::string_view text) {
    LineReader lines(ReadFrom(text), 0, text.size());
    SpreadsheetRows reader([&lines](std::string& line) {
        std::string_view next;
        if (!lines.Next(next)) return false;
        line.assign(next);
        return true;
    });
    std::vector<SpreadsheetRow> rows;
    for (SpreadsheetRow row; reader.Next(row);) rows.push_back(std::move(row));
    return rows;
}

bool SpreadsheetRows::Advance() {
    while (m_nextLine(m_line)) {
        if (!m_line.empty()) return m_hasLine = true;
    }
    return m_hasLine = false;
}

bool SpreadsheetRows::Next(SpreadsheetRow& row) {
    if (!m_started) {
        m_started = true;
        if (!Advance()) return false;  // the header row is not a course
        m_hasLine = false;
    }
    while (m_hasLine || Advance()) {
        m_hasLine = false;
        if (m_line.front() == '\t') continue;  // an empty first column: no course here
        row = SplitRecordLine(m_line);
        // Every bullet line that follows belongs to the row, also beyond the
        // tenth; the first other line is the next course.
        while (Advance() && IsBulletLine(m_line)) {
            row.bullets.push_back(BulletText(m_line));
            m_hasLine = false;
        }
        return true;
    }
    return false;
}

std::string CourseDescriptionLine(const SpreadsheetRow& row) {
    std::string line = row.courseKey + "\t<p>";
    AppendItems(line, row);
    return ApplyCatalogueReplacements(std::move(line));
}

std::string VodInfoLine(const SpreadsheetRow& row) {
    std::string line = row.vodKey + "\t" + row.productCode + "\t" + row.courseTitle;
    if (!row.subtitle.empty()) line += ": " + row.subtitle;
    line += "\t<p>";
    AppendItems(line, row);
    return ApplyCatalogueReplacements(std::move(line));
}

std::string ApplyCatalogueReplacements(std::string line) {
    static const std::pair<std::string_view, std::string_view> kTable[] = {
        {"\xE2\x80\xA6", "&#x2026;"},  // horizontal ellipsis
        {",", "&#44;"},
        {"'", "&#39;"},
        {"\"", "&quot;"},
        {"\xE2\x80\x9C", "&quot;"},  // left double quotation mark
        {"\xE2\x80\x9D", "&quot;"},  // right double quotation mark
        {"(", "&#40;"},
        {")", "&#41;"},
        {"&quot;&quot;", "&quot;"},  // a doubled quote inside a quoted cell
        {"<p>&quot;", "<p>"},        // the quote that opens a multi-line cell
        {"&quot;</li>", "</li>"},    // the quote that closes it
    };
    for (const auto& [from, to] : kTable) platform::ReplaceAllInPlace(line, from, to);
    return line;
}
