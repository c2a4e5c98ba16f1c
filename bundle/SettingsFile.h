#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "catalogues/LineReader.h"
#include "writers/BundleFiles.h"

// A course settings file (xml/interface.xml) as the patcher reads it.
struct SettingsLines {
    // False when the file must be converted to UTF-8 before it can be patched
    // (UTF-16 in either byte order, or bytes that are not UTF-8).
    bool isUtf8 = true;
    // The first non-empty line; nothing for a file without one (zero bytes,
    // or only line ends).
    std::optional<std::string> header;
    // The remaining non-empty lines in file order, without their line ends.
    std::vector<std::string> lines;
};

// Splits the file's bytes into its header line and lines. A UTF-8 byte-order
// mark is dropped; CR LF reads like LF; empty lines are dropped.
SettingsLines ReadSettingsLines(std::string_view bytes);

// What a look through a whole settings file finds before anything is written.
struct SettingsFileCheck {
    bool isUtf8 = true;     // as ReadSettingsLines tells it
    bool hasText = false;   // it has a header line
    std::error_code error;  // why it could not be read through
};
// Looks through the file `read` gives a buffer at a time (never a line at a
// time: a file of NUL bytes has no line ends).
SettingsFileCheck CheckSettingsFile(const LineReader::ReadAt& read, std::size_t bufferBytes = LineReader::kBufferBytes);

// Reads a settings file line by line with the rules of ReadSettingsLines,
// from something read in pieces, so that a file of any size can be patched.
class SettingsLineReader {
public:
    explicit SettingsLineReader(LineReader lines) : m_lines(std::move(lines)) {}
    // The next line (the header line first) without its line end. False at
    // the end, when a read failed (Error()), or as soon as the file shows it
    // is not UTF-8 text (IsUtf8()).
    bool Next(std::string_view& line);
    bool IsUtf8() const { return m_isUtf8; }
    const std::error_code& Error() const { return m_lines.Error(); }

private:
    LineReader m_lines;
    bool m_first = true;
    bool m_isUtf8 = true;
};

// The text between the first "<name>" and the first "</name>" of the line;
// empty when the closing tag is missing or stands before the opening one ends.
std::string ElementValue(std::string_view line, std::string_view name);

// The name that content folders of the course folder carry (not yet
// lower-cased): the folder in front of the first "/media" when the path
// holds one, else the course folder's own name.
std::string CourseFolderName(const std::string& courseFolder);

// The folder of a course folder that receives the player assets:
// "<C>/course bundle/<n>/media" when "course bundle" exists, else "<C>/<n>/media"
// or "<C>/<n>" when found, else the course folder itself; <n> is the course
// folder's name (taken in front of "/media" when the path holds it), lower-cased.
std::string LocateContentFolder(BundleFiles& files, const std::string& courseFolder);

// The three letters that pick the question and test background images.
std::string BackgroundCode(std::string_view courseID);

// The isHRS line of a settings file, with its line end: true or false.
std::string IsHrsLine(bool isHrs);
// The five-line settings file of a package around its isHRS line (given with
// its line end), as a UTF-8 text stream writes it: byte-order mark, CR LF.
std::string FiveLineInterfaceFile(std::string_view isHrsLine);
// The five-line file given to package folders that lack one.
std::string MinimalInterfaceFile(bool isHrs);
