#include "writers/Escape.h"

#include <optional>

#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

std::string HexByte(std::string_view prefix, unsigned char byte) {
    std::string out(prefix);
    out.push_back(kHexDigits[byte >> 4]);
    out.push_back(kHexDigits[byte & 0xF]);
    return out;
}

// Walks `text` code point by code point (a byte that is not UTF-8 comes as
// 0xDC80 + byte); `replace` gives a code point's replacement, or nothing to
// keep its bytes as they are, so text without escaped characters comes back
// byte for byte.
template <typename Replace>
std::string EscapeCodePoints(std::string_view text, Replace replace) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t start = pos;
        const char32_t cp = platform::NextCodePoint(text, pos);
        if (const std::optional<std::string> replacement = replace(cp)) {
            out += *replacement;
        } else {
            out.append(text.substr(start, pos - start));
        }
    }
    return out;
}

// Byte by byte: `replace` gives a byte's replacement, or an empty view to
// keep it.
template <typename Replace>
std::string EscapeBytes(std::string_view text, Replace replace) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const std::string_view replacement = replace(c);
        if (replacement.empty()) {
            out.push_back(c);
        } else {
            out += replacement;
        }
    }
    return out;
}

bool IsXmlChar(unsigned long cp) {
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) || (cp >= 0xE000 && cp <= 0xFFFD) ||
           (cp >= 0x10000 && cp <= 0x10FFFF);
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The length of the well-formed reference at the start of `text` ("&amp;",
// "&#44;", "&#x2026;"), or 0 when it does not start with one.
std::size_t XmlReferenceLength(std::string_view text) {
    for (const std::string_view entity : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"}) {
        if (text.substr(0, entity.size()) == entity) return entity.size();
    }
    if (text.substr(0, 2) != "&#") return 0;
    const bool hex = text.size() > 2 && text[2] == 'x';
    const std::size_t first = hex ? 3 : 2;
    unsigned long value = 0;
    std::size_t i = first;
    for (; i < text.size() && (hex ? IsHexDigit(text[i]) : (text[i] >= '0' && text[i] <= '9')); ++i) {
        const char c = text[i];
        const unsigned digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
        value = value * (hex ? 16 : 10) + digit;
        if (value > 0x10FFFF) return 0;  // also keeps the value from overflowing
    }
    if (i == first || i >= text.size() || text[i] != ';' || !IsXmlChar(value)) return 0;
    return i + 1;
}

}  // namespace

std::string EscapeXmlText(std::string_view text) {
    return EscapeBytes(text, [](char c) -> std::string_view {
        switch (c) {
            case '&':
                return "&amp;";
            case '<':
                return "&lt;";
            case '>':
                return "&gt;";
            case '"':
                return "&quot;";
            case '\'':
                return "&apos;";
            default:
                return {};
        }
    });
}

std::string EscapeXmlMarkupText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '&') {
            const std::size_t kept = XmlReferenceLength(text.substr(i));
            if (kept > 0) {
                out.append(text.substr(i, kept));
                i += kept;
                continue;
            }
            out += "&amp;";
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else {
            out.push_back(c);
        }
        ++i;
    }
    return out;
}

std::string EscapeScriptString(std::string_view text) {
    return EscapeCodePoints(text, [](char32_t cp) -> std::optional<std::string> {
        switch (cp) {
            case '\\':
                return "\\\\";
            case '\'':
                return "\\'";
            case '"':
                return "\\\"";
            case '\n':
                return "\\n";
            case '\r':
                return "\\r";
            case '<':
                return "\\x3C";
            case 0x2028:
                return "\\u2028";
            case 0x2029:
                return "\\u2029";
            default:
                break;
        }
        if (cp < 0x20 || cp == 0x7F) return HexByte("\\u00", static_cast<unsigned char>(cp));
        return std::nullopt;
    });
}

std::string PercentEncodeUrlChars(std::string_view text) {
    // All three are ASCII, so a byte-wise pass cannot split a character.
    return EscapeBytes(text, [](char c) -> std::string_view {
        switch (c) {
            case '%':
                return "%25";
            case '#':
                return "%23";
            case '?':
                return "%3F";
            default:
                return {};
        }
    });
}

std::string EscapeLogName(std::string_view text) {
    return EscapeCodePoints(text, [](char32_t cp) -> std::optional<std::string> {
        switch (cp) {
            case '\n':
                return "\\n";
            case '\r':
                return "\\r";
            case '\t':
                return "\\t";
            default:
                break;
        }
        if (cp < 0x20 || cp == 0x7F) return HexByte("\\x", static_cast<unsigned char>(cp));
        if (cp >= 0xDC80 && cp <= 0xDCFF) return HexByte("\\x", static_cast<unsigned char>(cp - 0xDC00));
        return std::nullopt;
    });
}

std::string EscapeLogPath(const std::string& path) {
    return EscapeLogName(platform::DisplayPath(path));
}
