#include "bundle/SettingsFile.h"

#include "platform/FileSystem.h"
#include "platform/Text.h"

SettingsLines ReadSettingsLines(std::string_view bytes) {
    SettingsLines result;
    // Text that is not UTF-8 would come back as replacement characters, which
    // the rewrite would then write over the course's own text: refuse it, as
    // UTF-16 is refused, so that the file stays as it was.
    const auto startsWith = [&](std::string_view prefix) { return bytes.substr(0, prefix.size()) == prefix; };
    if (startsWith("\xFF\xFE") || startsWith("\xFE\xFF") || bytes.find('\0') != std::string_view::npos ||
        !platform::IsValidUtf8(bytes)) {
        result.isUtf8 = false;
        return result;
    }
    if (startsWith("\xEF\xBB\xBF")) bytes.remove_prefix(3);

    std::size_t pos = 0;
    while (pos <= bytes.size()) {
        std::size_t end = bytes.find('\n', pos);
        if (end == std::string_view::npos) end = bytes.size();
        std::string_view piece = bytes.substr(pos, end - pos);
        pos = end + 1;
        const std::size_t first = piece.find_first_not_of('\r');
        if (first == std::string_view::npos) continue;
        piece.remove_prefix(first);
        piece = piece.substr(0, piece.find('\r'));
        if (!result.header) {
            result.header = std::string(piece);
        } else {
            result.lines.emplace_back(piece);
        }
    }
    return result;
}

std::string ElementValue(std::string_view line, std::string_view name) {
    const std::string open = "<" + std::string(name) + ">";
    const std::string close = "</" + std::string(name) + ">";
    const std::size_t p = line.find(open);
    if (p == std::string_view::npos) return {};
    const std::size_t q = line.find(close);
    const std::size_t start = p + open.size();
    if (q == std::string_view::npos || q < start) return {};
    return std::string(line.substr(start, q - start));
}

std::string CourseFolderName(const std::string& courseFolder) {
    // "/media" with no folder name in front of it is where removable drives
    // are mounted, not a media folder of a bundle: the search goes on past it.
    std::size_t from = 0;
    while (true) {
        const std::size_t at = courseFolder.find("/media", from);
        if (at == std::string::npos) return platform::LastComponent(courseFolder);
        const std::string name = platform::LastComponent(courseFolder.substr(0, at));
        if (!name.empty()) return name;
        from = at + 1;
    }
}

std::string LocateContentFolder(BundleFiles& files, const std::string& courseFolder) {
    const std::string name = platform::ToLowerText(CourseFolderName(courseFolder));
    const std::string courseBundle = courseFolder + "/course bundle";
    if (files.Exists(courseBundle)) return courseBundle + "/" + name + "/media";
    const std::string nameFolder = courseFolder + "/" + name;
    if (files.Exists(nameFolder + "/media")) return nameFolder + "/media";
    if (files.Exists(nameFolder)) return nameFolder;
    return courseFolder;
}

std::string BackgroundCode(std::string_view courseID) {
    const std::string first = platform::FirstCodePoints(courseID, 3);
    if (platform::EqualsIgnoringCase(first, "hrs")) return platform::CodePointSubstring(courseID, 4, 3);
    if (platform::EqualsIgnoringCase(first, "xxx")) return "cst";
    return first;
}

std::string IsHrsLine(bool isHrs) {
    return isHrs ? "\t\t<isHRS>true</isHRS>\n" : "\t\t<isHRS>false</isHRS>\n";
}

std::string FiveLineInterfaceFile(std::string_view isHrsLine) {
    return platform::EncodeUtf8TextStream("<xmlFile>\n\t<Attributes>\n" + std::string(isHrsLine) +
                                          "\t</Attributes>\n</xmlFile>\n");
}

std::string MinimalInterfaceFile(bool isHrs) {
    return FiveLineInterfaceFile(IsHrsLine(isHrs));
}
