#include "catalogues/DescriptionCatalogue.h"

#include "platform/FileSystem.h"
#include "platform/Text.h"

DescriptionCatalogue ParseDescriptionCatalogue(std::string_view bytes) {
    if (bytes.size() > 2 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    const std::string text = platform::DecodeUtf8Lossy(bytes);
    const std::string_view all(text);

    DescriptionCatalogue entries;
    std::size_t pos = 0;
    while (pos < all.size()) {
        std::size_t end = all.find('\n', pos);
        if (end == std::string_view::npos) end = all.size();
        std::string_view line = all.substr(pos, end - pos);
        pos = end + 1;
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::size_t keyStart = line.find_first_not_of('\t');
        if (keyStart == std::string_view::npos) continue;
        const std::size_t tab = line.find('\t', keyStart);
        if (tab == std::string_view::npos || tab + 1 == line.size()) continue;
        entries.push_back({std::string(line.substr(keyStart, tab - keyStart)), std::string(line.substr(tab + 1))});
    }
    return entries;
}
