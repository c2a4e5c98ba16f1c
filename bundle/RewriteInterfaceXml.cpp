#include "bundle/RewriteInterfaceXml.h"

#include <functional>
#include <tuple>

#include "bundle/SettingsFile.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "writers/Escape.h"
#include "writers/NormaliseTextFile.h"

namespace {

std::string YesNo(bool value) {
    return value ? "yes" : "no";
}

std::string ElementLine(std::string_view name, std::string_view value) {
    return "\t<" + std::string(name) + ">" + std::string(value) + "</" + std::string(name) + ">\n";
}

std::string PosttestRetakeCountLine(const CourseSettings& s) {
    return ElementLine("PosttestRetakeCount",
                       platform::FormatInt(s.posttestPassingScore != -1 ? s.posttestRetakeCount : 0));
}

}  // namespace

InterfaceXmlRewriter::InterfaceXmlRewriter(const RewriteInputs& inputs, CourseRecord& record)
    : m_inputs(inputs), m_record(record), m_courseID(EscapeXmlText(inputs.courseID)) {
    record.courseID = inputs.courseID;
    record.WebTitle.clear();
    record.WebDescription.clear();
    record.Language = "English";
}

void InterfaceXmlRewriter::Rewrite(std::string_view line, std::string& out) {
    const CourseSettings& s = m_inputs.settings;
    CourseRecord& record = m_record;
    const std::string& courseID = m_courseID;
    const bool assessment = s.testMode == TestMode::Assessment;
    Seen& seen = m_seen;
    const auto unchanged = [&out, line] {
        out += line;
        out += '\n';
    };
    if (!seen.header) {
        seen.header = true;
        unchanged();
        return;
    }

    const auto holds = [line](std::string_view tag) { return line.find(tag) != std::string_view::npos; };
    if (holds("<CrsVersion>")) {
        // The version carries the date of the player the bundle is patched with.
        if (const auto& date = m_inputs.programDate) {
            out += ElementLine("CrsVersion", "10.7.0_" + platform::FormatInt(date->month, 2) + "_" +
                                                 platform::FormatInt(date->day, 2) + "_" +
                                                 platform::FormatInt(date->year, 4));
        } else {
            unchanged();
        }
    } else if (holds("<Title>")) {
        unchanged();
    } else if (holds("<Description>")) {
        record.Description = platform::ReplaceAll(ElementValue(line, "Description"), "&", "and");
        out += platform::ReplaceAll(line, "&", "and") + "\n";
    } else if (holds("<WebDescription>")) {
        std::string v = ElementValue(line, "WebDescription");
        if (v.empty()) v = record.Description;
        if (s.updateDescriptionsFromHtml) {
            if (m_inputs.findDescription) {
                if (auto found = m_inputs.findDescription(platform::ReplaceAll(record.courseID, "_adl_", "_int_"))) {
                    v = std::move(*found);
                }
            }
            platform::ReplaceAllInPlace(v, "<", "&lt;");
            platform::ReplaceAllInPlace(v, ">", "&gt;");
        }
        platform::ReplaceAllInPlace(v, "&hellip;", "&#x2026;");
        platform::ReplaceAllInPlace(v, "&ldquo;", "&#x201c;");
        platform::ReplaceAllInPlace(v, "&rdquo;", "&#x201d;");
        record.WebDescription = v;
        out += ElementLine("WebDescription", v);
    } else if (holds("<WebTitle>")) {
        const std::string trimmed(platform::TrimAsciiSpaceRight(ElementValue(line, "WebTitle")));
        record.WebTitle = trimmed.empty() ? courseID : trimmed;
        if (trimmed.empty()) {
            out += ElementLine("WebTitle", courseID);
        } else {
            unchanged();
        }
    } else if (holds("<ProductCode>")) {
        const std::string value = ElementValue(line, "ProductCode");
        record.ProductCode = value.empty() ? courseID : value;
        if (value.empty()) {
            out += ElementLine("ProductCode", courseID);
        } else {
            unchanged();
        }
        seen.productCode = true;
    } else if (holds("<Subtitle>")) {
        record.Subtitle = ElementValue(line, "Subtitle");
        unchanged();
    } else if (holds("<Language>")) {
        record.Language = ElementValue(line, "Language");
        unchanged();
    } else if (holds("</Attributes>")) {
        if (!seen.isHrs) out += IsHrsLine(s.enableHrSetting && s.isHr);
        if (!platform::Contains(record.courseID, "_vid_") && !seen.productCode) {
            out += ElementLine("ProductCode", courseID);
            record.ProductCode = courseID;
        }
        unchanged();
    } else if (holds("<ScreenSize>")) {
        out += ElementLine("ScreenSize", s.fullScreenAtStartup);
        seen.screenSize = true;
    } else if (holds("<EnableVideoSkip>")) {
        out += ElementLine("EnableVideoSkip", YesNo(s.allowVideoSkip));
    } else if (holds("<ShowNavBar>")) {
        out += ElementLine("ShowNavBar", YesNo(s.showNavBar));
        seen.showNavBar = true;
    } else if (holds("<Accessibility>")) {
        out += ElementLine("Accessibility", YesNo(s.accessibilityDefault));
        seen.accessibility = true;
    } else if (holds("<EnableReverse>")) {
        out += ElementLine("EnableReverse", YesNo(s.enableReverse));
    } else if (holds("<isHRS>")) {
        if (s.enableHrSetting) {
            out += IsHrsLine(s.isHr);
        } else {
            unchanged();
        }
        seen.isHrs = true;
    } else if (holds("<CertificatePrinting>")) {
        out += ElementLine("CertificatePrinting", YesNo(s.certificatePrinting));
    } else if (holds("<TimeOut>")) {
        out += ElementLine("TimeOut", platform::FormatInt(s.courseTimeout));
    } else if (holds("<RecordPartialData>")) {
        out += ElementLine("RecordPartialData", YesNo(!s.keepDetailedBookmarking));
    } else if (holds("<SkipCongratsScreen>")) {
        out += ElementLine("SkipCongratsScreen", YesNo(s.skipCongratsScreen));
        seen.skipCongratsScreen = true;
    } else if (holds("</ActiveFeatures>")) {
        if (!seen.screenSize) out += ElementLine("ScreenSize", s.fullScreenAtStartup);
        if (!seen.showNavBar) out += ElementLine("ShowNavBar", YesNo(s.showNavBar));
        if (!seen.accessibility) out += ElementLine("Accessibility", YesNo(s.accessibilityDefault));
        if (!seen.skipCongratsScreen) out += ElementLine("SkipCongratsScreen", YesNo(s.skipCongratsScreen));
        unchanged();
    } else if (holds("<PretestQuestions>")) {
        out += ElementLine("PretestQuestions", assessment ? "0" : platform::FormatInt(s.pretestQuestionCount));
    } else if (holds("<PosttestQuestions>")) {
        out += ElementLine("PosttestQuestions", platform::FormatInt(s.posttestQuestionCount));
    } else if (holds("<PretestPassingScore>")) {
        out += ElementLine("PretestPassingScore", !assessment && s.pretestPassingScore != -1
                                                      ? platform::FormatInt(s.pretestPassingScore)
                                                      : std::string());
    } else if (holds("<PosttestPassingScore>")) {
        std::string value;
        if (s.posttestPassingScore != -1) {
            value = platform::FormatInt(s.posttestPassingScore);
        } else if (assessment) {
            value = "80";
        }
        out += ElementLine("PosttestPassingScore", value);
    } else if (holds("<PosttestRetakeCount>")) {
        out += PosttestRetakeCountLine(s);
        seen.posttestRetakeCount = true;
    } else if (holds("<AssessmentScore>")) {
        out += ElementLine("AssessmentScore", assessment ? platform::FormatInt(s.pretestPassingScore) : "");
    } else if (holds("<AssessmentAutoSkip>")) {
        out += ElementLine("AssessmentAutoSkip", YesNo(s.assessmentAutoSkip));
    } else if (holds("</ExamSettings>")) {
        if (!seen.posttestRetakeCount) out += PosttestRetakeCountLine(s);
        unchanged();
    } else {
        unchanged();
    }
}

std::optional<std::string> RewriteInterfaceXml(const std::string& header, const std::vector<std::string>& lines,
                                               const RewriteInputs& inputs, CourseRecord& record) {
    InterfaceXmlRewriter rewriter(inputs, record);
    if (header.empty()) return std::nullopt;
    std::string out;
    rewriter.Rewrite(header, out);
    for (const std::string& line : lines) rewriter.Rewrite(line, out);
    // The bytes the UTF-8 stream and the normaliser would leave.
    return FinishedTextBytes(out);
}

std::error_code RewriteInterfaceXmlFrom(const LineReader::ReadAt& read, const RewriteInputs& inputs,
                                        CourseRecord& record,
                                        const std::function<std::error_code(std::string_view)>& write,
                                        std::size_t bufferBytes) {
    // The rewritten file's bytes go out in pieces of about the buffer's size.
    InterfaceXmlRewriter rewriter(inputs, record);
    SettingsLineReader lines{LineReader(read, 0, bufferBytes)};
    std::string out;
    std::string_view line;
    std::error_code ec;
    while (lines.Next(line)) {
        rewriter.Rewrite(line, out);
        if (out.size() >= bufferBytes) {
            if ((ec = write(FinishedTextBytes(out)))) return ec;
            out.clear();
        }
    }
    if (lines.Error()) return lines.Error();
    // Changed since it was found to be text.
    if (!lines.IsUtf8()) return std::make_error_code(std::errc::illegal_byte_sequence);
    return write(FinishedTextBytes(out));
}

SettingsFileOutcome RewriteSettingsFile(BundleFiles& files, const std::string& path, const LineReader::ReadAt& read,
                                        const RewriteInputs& inputs, CourseRecord& record) {
    const SettingsFileCheck check = CheckSettingsFile(read);
    if (check.error) {
        files.NoteFailure("read", path, check.error);
        return SettingsFileOutcome::notRead;
    }
    if (!check.isUtf8) return SettingsFileOutcome::notUtf8;
    if (!check.hasText) {
        // Nothing may be written that was not in the file; the record starts afresh all the same.
        InterfaceXmlRewriter clearsTheRecord(inputs, record);
        return SettingsFileOutcome::withoutText;
    }

    bool whole = false;
    const bool written = WriteNormalisedFileWith(files, path, [&](platform::StagedWriter& writer) {
        const std::error_code ec = RewriteInterfaceXmlFrom(
            read, inputs, record, [&writer](std::string_view bytes) { return writer.Write(bytes); });
        whole = !ec;
        return ec;
    });
    if (written) return SettingsFileOutcome::rewritten;
    if (!whole) {
        // The writers that follow read the record: it is filled from the file
        // even when the file itself could not be written.
        std::ignore = RewriteInterfaceXmlFrom(read, inputs, record, [](std::string_view) { return std::error_code(); });
    }
    return SettingsFileOutcome::notWritten;
}
