#include "catalogues/VodCatalogueParser.h"

#include <string>

#include "catalogues/LineReader.h"
#include "platform/Text.h"

namespace {

// The line up to its first CR that follows other text; CRs in front of the
// text are skipped. Empty when the line holds nothing but CRs.
std::string_view CutAtCarriageReturn(std::string_view line) {
    const std::size_t start = line.find_first_not_of('\r');
    if (start == std::string_view::npos) return {};
    line.remove_prefix(start);
    return line.substr(0, line.find('\r'));
}

}  // namespace

VodInfoEntry SplitVodCatalogueLine(std::string_view line) {
    VodInfoEntry entry;
    std::size_t pos = line.find_first_not_of('\t');
    if (pos == std::string_view::npos) return entry;

    std::size_t tab = line.find('\t', pos);
    entry.vodKey = std::string(line.substr(pos, tab - pos));
    if (tab == std::string_view::npos) return entry;

    pos = tab + 1;
    if (pos < line.size() && line[pos] == '\t') {
        // An empty product code: the key stands in for it.
        entry.productCode = entry.vodKey;
        tab = pos;
    } else {
        tab = line.find('\t', pos);
        entry.productCode = std::string(line.substr(pos, tab - pos));
        if (tab == std::string_view::npos) return entry;
    }

    // TABs in a row in front of the title count as one separator.
    pos = line.find_first_not_of('\t', tab);
    if (pos == std::string_view::npos) return entry;
    tab = line.find('\t', pos);
    entry.courseTitle = std::string(line.substr(pos, tab - pos));
    if (tab == std::string_view::npos) return entry;

    entry.htmlDescription = std::string(line.substr(tab + 1));
    return entry;
}

VodCatalogue ParseVodCatalogue(std::string_view bytes) {
    VodCatalogue catalogue;
    LineReader lines(ReadFrom(bytes), 0, bytes.size());
    std::string_view line;
    while (lines.Next(line)) {
        VodCatalogueLine read = ParseVodCatalogueLine(line, lines.LineOffset() == 0, catalogue.empty());
        if (read.kind == VodCatalogueLine::Kind::end) break;
        if (read.kind == VodCatalogueLine::Kind::entry) catalogue.push_back(std::move(read.entry));
    }
    return catalogue;
}

VodCatalogueLine ParseVodCatalogueLine(std::string_view bytes, bool firstInFile, bool firstEntry) {
    VodCatalogueLine read;
    // An LF never stands inside a UTF-8 sequence: a line decodes on its own as in the whole text.
    const std::string text = platform::DecodeUtf8Lossy(bytes);
    std::string_view rawLine = text;
    if (firstInFile && rawLine.starts_with("\xEF\xBB\xBF")) rawLine.remove_prefix(3);
    if (rawLine.empty()) return read;  // runs of LF

    const std::string_view line = CutAtCarriageReturn(rawLine);
    if (line.empty()) {
        // An empty CR LF line ends the catalogue; in front of the first
        // entry it is only a leading blank line.
        if (!firstEntry) read.kind = VodCatalogueLine::Kind::end;
        return read;
    }
    read.kind = VodCatalogueLine::Kind::entry;
    read.entry = SplitVodCatalogueLine(line);
    if (firstEntry) {
        read.entry.vodKey = std::string(platform::TrimAsciiSpace(read.entry.vodKey));
        read.entry.productCode = std::string(platform::TrimAsciiSpace(read.entry.productCode));
    }
    return read;
}
