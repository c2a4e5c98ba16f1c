#include "writers/TemplateText.h"

#include "platform/Text.h"

std::vector<std::string> SplitTemplateLines(std::string_view bytes) {
    std::vector<std::string> lines;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    do {
        const std::size_t lf = bytes.find('\n');
        std::string_view line = bytes.substr(0, lf);
        if (lf != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(platform::Latin1ToUtf8(line));
        bytes = lf == std::string_view::npos ? std::string_view() : bytes.substr(lf + 1);
    } while (!bytes.empty());
    return lines;
}

std::string FillTemplate(const std::vector<std::string>& lines, const std::vector<TemplateRule>& rules) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const TemplateRule* match = nullptr;
        // The first line is a header no marker may touch; empty lines are left alone.
        if (i > 0 && !line.empty()) {
            for (const TemplateRule& rule : rules) {
                if (line.find(rule.marker) != std::string::npos) {
                    match = &rule;
                    break;
                }
            }
        }
        if (match == nullptr || match->keepMatchedLine) {
            text += line;
            text += '\n';
        }
        if (match != nullptr) text += match->makeReplacement ? match->makeReplacement() : match->replacement;
    }
    return text;
}
