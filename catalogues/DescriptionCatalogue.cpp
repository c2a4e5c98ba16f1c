#include "catalogues/DescriptionCatalogue.h"

#include "catalogues/LineReader.h"
#include "platform/Text.h"

DescriptionCatalogue ParseDescriptionCatalogue(std::string_view bytes) {
    DescriptionCatalogue entries;
    LineReader lines(ReadFrom(bytes), 0, bytes.size());
    std::string_view line;
    while (lines.Next(line)) {
        if (auto entry = ParseDescriptionLine(line, lines.LineOffset() == 0)) entries.push_back(std::move(*entry));
    }
    return entries;
}

std::optional<DescriptionEntry> ParseDescriptionLine(std::string_view line, bool first) {
    if (first && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
    // An LF never stands inside a UTF-8 sequence: a line decodes on its own as in the whole text.
    const std::string text = platform::DecodeUtf8Lossy(line);
    std::string_view rest(text);
    while (!rest.empty() && rest.back() == '\r') rest.remove_suffix(1);
    const std::size_t keyStart = rest.find_first_not_of('\t');
    if (keyStart == std::string_view::npos) return std::nullopt;
    const std::size_t tab = rest.find('\t', keyStart);
    if (tab == std::string_view::npos || tab + 1 == rest.size()) return std::nullopt;
    return DescriptionEntry{std::string(rest.substr(keyStart, tab - keyStart)), std::string(rest.substr(tab + 1))};
}
