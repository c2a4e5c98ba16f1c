#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bundle/CourseRecord.h"
#include "catalogues/LineReader.h"
#include "platform/FileSystem.h"
#include "settings/CourseSettings.h"
#include "writers/BundleFiles.h"

// What the rewrite of one settings file takes besides its lines.
struct RewriteInputs {
    const CourseSettings& settings;
    // The course bundle's key (lower-cased course folder name); set in the record too.
    std::string courseID;
    // The last-write date of the installation's program file, which the
    // course version carries; nothing keeps a file's old version line.
    std::optional<platform::LocalDate> programDate;
    // The description catalogue's entry for a key, when descriptions come from
    // the catalogue and it holds entries; empty otherwise.
    std::function<std::optional<std::string>(const std::string& key)> findDescription;
};

// Rewrites a settings file one line at a time with the run's options,
// filling the record as it goes: the rules of RewriteInterfaceXml for a file
// that is not held whole.
class InterfaceXmlRewriter {
public:
    // Empties the record's WebTitle and WebDescription and sets its Language
    // to English; `inputs` and `record` outlive the rewriter.
    InterfaceXmlRewriter(const RewriteInputs& inputs, CourseRecord& record);
    // Appends what `line` becomes, line end included, to `out`; the first
    // line given is the header, which no rule looks at. The text is as a
    // UTF-8 stream would take it: FinishedTextBytes makes it the file's bytes.
    void Rewrite(std::string_view line, std::string& out);

private:
    struct Seen {
        bool header = false;
        bool productCode = false;
        bool screenSize = false;
        bool showNavBar = false;
        bool accessibility = false;
        bool isHrs = false;
        bool skipCongratsScreen = false;
        bool posttestRetakeCount = false;
    };
    const RewriteInputs& m_inputs;
    CourseRecord& m_record;
    // The course key where it stands in for a value of the file: as XML text, like the file's own values.
    std::string m_courseID;
    Seen m_seen;
};

// The settings file rewritten line by line with the run's options: the
// finished bytes (UTF-8, no byte-order mark, LF line ends), or nothing for a
// file without a header line (it held no text, and nothing may be written
// that was not in it). Fills `record` from the file's values: WebTitle,
// WebDescription and Language always; Description, ProductCode and Subtitle
// when the file holds them (else they keep the values of the bundle before).
std::optional<std::string> RewriteInterfaceXml(const std::string& header, const std::vector<std::string>& lines,
                                               const RewriteInputs& inputs, CourseRecord& record);

// RewriteInterfaceXml for a file read in pieces through `read`: the finished
// bytes go to `write` piece by piece, neither file held whole. The file is
// taken to be UTF-8 text (SettingsLineReader): one that is not fails with
// illegal_byte_sequence, part of it written.
std::error_code RewriteInterfaceXmlFrom(const LineReader::ReadAt& read, const RewriteInputs& inputs,
                                        CourseRecord& record,
                                        const std::function<std::error_code(std::string_view)>& write,
                                        std::size_t bufferBytes = LineReader::kBufferBytes);

// What became of a settings file rewritten in place.
enum class SettingsFileOutcome {
    rewritten,
    notUtf8,      // refused, left as it is; the record is not touched
    withoutText,  // no header line: left as it is
    notWritten,   // could not be written (noted); the record is filled all the same
    notRead,      // could not be read (noted); the record is not touched
};

// Rewrites the settings file at `path` in place, reading it through `read`
// (what is on disk, or what the run staged for it) line by line and staging
// the new bytes as they are made: neither is held whole. The file is read
// once to tell whether it is UTF-8 text with a header line before anything
// is written, then again for the rewrite.
SettingsFileOutcome RewriteSettingsFile(BundleFiles& files, const std::string& path, const LineReader::ReadAt& read,
                                        const RewriteInputs& inputs, CourseRecord& record);
