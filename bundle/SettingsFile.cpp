#include "bundle/SettingsFile.h"

#include <algorithm>

#include "platform/FileSystem.h"
#include "platform/Text.h"

SettingsLines ReadSettingsLines(std::string_view bytes) {
    SettingsLines result;
    SettingsLineReader reader(LineReader(ReadFrom(bytes), 0, bytes.size()));
    std::string_view line;
    while (reader.Next(line)) {
        if (!result.header) {
            result.header = std::string(line);
        } else {
            result.lines.emplace_back(line);
        }
    }
    if (!reader.IsUtf8()) return SettingsLines{false, std::nullopt, {}};
    return result;
}

bool SettingsLineReader::Next(std::string_view& line) {
    std::string_view piece;
    while (m_isUtf8 && m_lines.Next(piece)) {
        // Text that is not UTF-8 would come back as replacement characters,
        // which the rewrite would then write over the course's own text:
        // refuse it, as UTF-16 is refused, so that the file stays as it was.
        // An LF never stands inside a UTF-8 sequence, so each line can be
        // checked on its own.
        if (m_first && (piece.starts_with("\xFF\xFE") || piece.starts_with("\xFE\xFF"))) m_isUtf8 = false;
        if (piece.find('\0') != std::string_view::npos || !platform::IsValidUtf8(piece)) m_isUtf8 = false;
        if (!m_isUtf8) return false;
        if (m_first && piece.starts_with("\xEF\xBB\xBF")) piece.remove_prefix(3);
        m_first = false;
        // CRs in front of a line are dropped and the line ends at the next one,
        // so CR LF reads like LF; what is then empty is no line.
        const std::size_t start = piece.find_first_not_of('\r');
        if (start == std::string_view::npos) continue;
        piece.remove_prefix(start);
        line = piece.substr(0, piece.find('\r'));
        return true;
    }
    return false;
}

SettingsFileCheck CheckSettingsFile(const LineReader::ReadAt& read, std::size_t bufferBytes) {
    SettingsFileCheck check;
    std::string head;             // the file's first three bytes
    std::string pending;          // what follows the last whole UTF-8 sequence seen
    std::uint64_t textBytes = 0;  // bytes other than CR and LF
    check.error = ReadInPieces(
        read,
        [&](std::string_view piece) {
            if (head.size() < 3) head.append(piece.substr(0, 3 - head.size()));
            if (piece.find('\0') != std::string_view::npos) {
                check.isUtf8 = false;
                return false;
            }
            textBytes += static_cast<std::uint64_t>(
                std::count_if(piece.begin(), piece.end(), [](char c) { return c != '\r' && c != '\n'; }));
            // A piece may end inside a sequence: it is checked up to the last
            // byte that starts one, and the rest with the next piece.
            pending.append(piece);
            std::size_t cut = pending.size();
            for (std::size_t back = 1; back <= 4 && back <= pending.size(); ++back) {
                if ((static_cast<unsigned char>(pending[pending.size() - back]) & 0xC0) != 0x80) {
                    cut = pending.size() - back;
                    break;
                }
            }
            check.isUtf8 = platform::IsValidUtf8(std::string_view(pending).substr(0, cut));
            pending.erase(0, cut);
            return check.isUtf8;
        },
        0, bufferBytes);
    if (check.error || !check.isUtf8) return check;
    if (head.starts_with("\xFF\xFE") || head.starts_with("\xFE\xFF") || !platform::IsValidUtf8(pending)) {
        check.isUtf8 = false;
        return check;
    }
    // A byte-order mark is no text.
    check.hasText = textBytes > (head == "\xEF\xBB\xBF" ? 3u : 0u);
    return check;
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
