#include "platform/Text.h"

#include <array>
#include <cstdio>

namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Length of the well-formed UTF-8 sequence at `pos`, or 0 when it is ill-formed.
// Also reports how many bytes form the maximal ill-formed prefix to skip.
std::size_t WellFormedLength(std::string_view s, std::size_t pos, std::size_t& badLength) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = b(pos);
    badLength = 1;
    if (c < 0x80) return 1;
    std::size_t need = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        need = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
        need = 2;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        need = 3;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    for (std::size_t i = 1; i <= need; ++i) {
        if (pos + i >= s.size()) return 0;
        const unsigned char t = b(pos + i);
        const unsigned char l = (i == 1) ? lo : 0x80;
        const unsigned char h = (i == 1) ? hi : 0xBF;
        if (t < l || t > h) return 0;
        badLength = i + 1;
    }
    return need + 1;
}

char32_t DecodeWellFormed(std::string_view s, std::size_t pos, std::size_t len) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[pos + i]); };
    switch (len) {
        case 1:
            return b(0);
        case 2:
            return (char32_t(b(0) & 0x1F) << 6) | (b(1) & 0x3F);
        case 3:
            return (char32_t(b(0) & 0x0F) << 12) | (char32_t(b(1) & 0x3F) << 6) | (b(2) & 0x3F);
        default:
            return (char32_t(b(0) & 0x07) << 18) | (char32_t(b(1) & 0x3F) << 12) | (char32_t(b(2) & 0x3F) << 6) |
                   (b(3) & 0x3F);
    }
}

constexpr std::array<char16_t, 32> kCp1252High = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
    std::size_t pos = 0, bad = 0;
    while (pos < bytes.size()) {
        const std::size_t len = WellFormedLength(bytes, pos, bad);
        if (len == 0) return false;
        pos += len;
    }
    return true;
}

std::string DecodeUtf8Lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        // Runs of ASCII are the common case: copy them whole.
        std::size_t run = pos;
        while (run < bytes.size() && static_cast<unsigned char>(bytes[run]) < 0x80) ++run;
        out.append(bytes.substr(pos, run - pos));
        pos = run;
        if (pos >= bytes.size()) break;
        std::size_t bad = 0;
        const std::size_t len = WellFormedLength(bytes, pos, bad);
        if (len == 0) {
            AppendUtf8(out, kReplacement);
            pos += bad;
        } else {
            out.append(bytes.substr(pos, len));
            pos += len;
        }
    }
    return out;
}

std::string Latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out.push_back(ch);
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out.push_back(ch);
        } else if (c < 0xA0) {
            AppendUtf8(out, kCp1252High[c - 0x80]);
        } else {
            AppendUtf8(out, c);
        }
    }
    return out;
}

std::string Utf8ToUtf16Le(std::string_view utf8) {
    const std::string text = DecodeUtf8Lossy(utf8);
    std::string out;
    out.reserve(text.size() * 2);
    const auto put = [&out](char16_t unit) {
        out.push_back(static_cast<char>(unit & 0xFF));
        out.push_back(static_cast<char>(unit >> 8));
    };
    std::size_t pos = 0;
    while (pos < text.size()) {
        const char32_t cp = NextCodePoint(text, pos);
        if (cp >= 0x10000) {
            const char32_t v = cp - 0x10000;
            put(static_cast<char16_t>(0xD800 + (v >> 10)));
            put(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
        } else {
            put(static_cast<char16_t>(cp));
        }
    }
    return out;
}

char32_t NextCodePoint(std::string_view text, std::size_t& pos) {
    std::size_t bad = 0;
    const std::size_t len = WellFormedLength(text, pos, bad);
    if (len == 0) {
        const auto c = static_cast<unsigned char>(text[pos]);
        ++pos;
        return 0xDC00 + c;
    }
    const char32_t cp = DecodeWellFormed(text, pos, len);
    pos += len;
    return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp >= 0xDC80 && cp <= 0xDCFF) {
        // A byte that was not UTF-8 goes back out as that byte.
        out.push_back(static_cast<char>(cp - 0xDC00));
    } else if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

char32_t ToUpperCodePoint(char32_t cp) {
    if (cp >= 'a' && cp <= 'z') return cp - 0x20;
    if (cp < 0x80) return cp;
    if (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) return cp - 0x20;
    if (cp == 0xFF) return 0x178;
    if (cp >= 0x100 && cp <= 0x17F) {
        // Latin Extended-A pairs: even upper, odd lower, except the runs that are shifted by one.
        if ((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E)) return (cp % 2 == 0) ? cp - 1 : cp;
        if (cp == 0x131 || cp == 0x138 || cp == 0x149 || cp == 0x17F) return cp;
        return (cp % 2 == 1) ? cp - 1 : cp;
    }
    if (cp >= 0x3B1 && cp <= 0x3C9 && cp != 0x3C2) return cp - 0x20;
    if (cp >= 0x430 && cp <= 0x44F) return cp - 0x20;
    if (cp >= 0x450 && cp <= 0x45F) return cp - 0x50;
    return cp;
}

char32_t ToLowerCodePoint(char32_t cp) {
    if (cp >= 'A' && cp <= 'Z') return cp + 0x20;
    if (cp < 0x80) return cp;
    if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) return cp + 0x20;
    if (cp == 0x178) return 0xFF;
    if (cp >= 0x100 && cp <= 0x17F) {
        if ((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E)) return (cp % 2 == 1) ? cp + 1 : cp;
        if (cp == 0x130 || cp == 0x138 || cp == 0x149 || cp == 0x17F) return cp;
        return (cp % 2 == 0) ? cp + 1 : cp;
    }
    if (cp >= 0x391 && cp <= 0x3A9 && cp != 0x3A2) return cp + 0x20;
    if (cp >= 0x410 && cp <= 0x42F) return cp + 0x20;
    if (cp >= 0x400 && cp <= 0x40F) return cp + 0x50;
    return cp;
}

namespace {
template <typename Map>
std::string MapText(std::string_view text, Map map) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto c = static_cast<unsigned char>(text[pos]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(map(c)));
            ++pos;
        } else {
            AppendUtf8(out, map(NextCodePoint(text, pos)));
        }
    }
    return out;
}
}  // namespace

std::string ToLowerText(std::string_view text) {
    return MapText(text, ToLowerCodePoint);
}
std::string ToUpperText(std::string_view text) {
    return MapText(text, ToUpperCodePoint);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (ToUpperCodePoint(NextCodePoint(a, i)) != ToUpperCodePoint(NextCodePoint(b, j))) return false;
    }
    return i == a.size() && j == b.size();
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 0x20);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 0x20);
        if (x != y) return false;
    }
    return true;
}

std::string CodePointSubstring(std::string_view text, std::size_t start, std::size_t count) {
    std::size_t pos = 0;
    for (std::size_t i = 0; i < start && pos < text.size(); ++i) NextCodePoint(text, pos);
    const std::size_t begin = pos;
    for (std::size_t i = 0; i < count && pos < text.size(); ++i) NextCodePoint(text, pos);
    return std::string(text.substr(begin, pos - begin));
}

std::string FirstCodePoints(std::string_view text, std::size_t count) {
    return CodePointSubstring(text, 0, count);
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    if (from.empty()) return std::string(text);
    out.reserve(text.size());
    std::size_t pos = 0;
    while (true) {
        const std::size_t hit = text.find(from, pos);
        if (hit == std::string_view::npos) break;
        out.append(text.substr(pos, hit - pos));
        out.append(to);
        pos = hit + from.size();
    }
    out.append(text.substr(pos));
    return out;
}

void ReplaceAllInPlace(std::string& text, std::string_view from, std::string_view to) {
    if (text.find(from) != std::string::npos) text = ReplaceAll(text, from, to);
}

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

bool IsAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view TrimAsciiSpaceRight(std::string_view text) {
    while (!text.empty() && IsAsciiSpace(text.back())) text.remove_suffix(1);
    return text;
}

std::string_view TrimAsciiSpace(std::string_view text) {
    while (!text.empty() && IsAsciiSpace(text.front())) text.remove_prefix(1);
    return TrimAsciiSpaceRight(text);
}

std::string FormatInt(long long value, int width) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%0*lld", width, value);
    return buffer;
}

}  // namespace platform
