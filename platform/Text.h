#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Text helpers. Text inside the program is UTF-8 in std::string; file and
// folder names are byte strings as the file system gives them.
namespace platform {

// True when `bytes` is well-formed UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(std::string_view bytes);

// Decodes UTF-8 the way the platform's converter does: every ill-formed
// sequence becomes U+FFFD. The result is always valid UTF-8.
std::string DecodeUtf8Lossy(std::string_view bytes);

// One byte per character: 0x00-0xFF become U+0000-U+00FF, written as UTF-8.
std::string Latin1ToUtf8(std::string_view bytes);

// Windows-1252 to UTF-8; bytes the code page leaves unmapped map to the code
// point of the same value.
std::string Cp1252ToUtf8(std::string_view bytes);

// Text in the system's ANSI code page to UTF-8: Windows-1252 on Linux (what
// a Western Windows spreadsheet export writes), the system's own on Windows.
std::string AnsiToUtf8(std::string_view bytes);

// UTF-16LE without byte-order mark; ill-formed input is decoded lossily first.
std::string Utf8ToUtf16Le(std::string_view utf8);

// Decodes one code point at `pos` and advances it. Ill-formed bytes are
// returned one at a time as 0xDC80 + byte (never a valid scalar from input),
// so names that are not UTF-8 still compare deterministically.
char32_t NextCodePoint(std::string_view text, std::size_t& pos);
void AppendUtf8(std::string& out, char32_t cp);

// Simple one-to-one case mappings: ASCII, Latin-1, Latin Extended-A, Greek
// and Cyrillic basic letters. Other characters map to themselves.
char32_t ToUpperCodePoint(char32_t cp);
char32_t ToLowerCodePoint(char32_t cp);
std::string ToLowerText(std::string_view text);
std::string ToUpperText(std::string_view text);

// Equal when the two texts are equal after upper-casing code point by code point.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
// Equal ignoring the case of the letters A to Z only.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

// The first `count` code points of `text` (fewer when it is shorter).
std::string FirstCodePoints(std::string_view text, std::size_t count);
// `count` code points starting at code point index `start`.
std::string CodePointSubstring(std::string_view text, std::size_t start, std::size_t count);

// Replaces every occurrence of `from`, left to right, without rescanning what
// was inserted.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);
void ReplaceAllInPlace(std::string& text, std::string_view from, std::string_view to);

bool Contains(std::string_view text, std::string_view part);

// White space as the six ASCII characters space, TAB, LF, VT, FF and CR.
bool IsAsciiSpace(char c);
std::string_view TrimAsciiSpace(std::string_view text);
std::string_view TrimAsciiSpaceRight(std::string_view text);

// Printf-style integer formatting as "%d" and "%02d" give it.
std::string FormatInt(long long value, int width = 0);

}  // namespace platform
