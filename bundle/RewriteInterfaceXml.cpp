#include "bundle/RewriteInterfaceXml.h"

#include "bundle/SettingsFile.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
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

// Which elements of a section the file holds, to insert the missing ones
// before the section closes.
struct SeenElements {
    bool productCode = false;
    bool screenSize = false;
    bool showNavBar = false;
    bool accessibility = false;
    bool isHrs = false;
    bool skipCongratsScreen = false;
    bool posttestRetakeCount = false;
};

}  // namespace

std::optional<std::string> RewriteInterfaceXml(const std::string& header, const std::vector<std::string>& lines,
                                               const RewriteInputs& inputs, CourseRecord& record) {
    record.courseID = inputs.courseID;
    record.WebTitle.clear();
    record.WebDescription.clear();
    record.Language = "English";
    if (header.empty()) return std::nullopt;

    const CourseSettings& s = inputs.settings;
    const std::string& courseID = record.courseID;
    const bool assessment = s.testMode == TestMode::Assessment;
    SeenElements seen;
    std::string out = header + "\n";

    for (const std::string& line : lines) {
        const auto holds = [&line](std::string_view tag) { return line.find(tag) != std::string::npos; };
        const std::string unchanged = line + "\n";
        if (holds("<CrsVersion>")) {
            // The version carries the date of the player the bundle is patched with.
            if (const auto& date = inputs.programDate) {
                out += ElementLine("CrsVersion", "10.7.0_" + platform::FormatInt(date->month, 2) + "_" +
                                                     platform::FormatInt(date->day, 2) + "_" +
                                                     platform::FormatInt(date->year, 4));
            } else {
                out += unchanged;
            }
        } else if (holds("<Title>")) {
            out += unchanged;
        } else if (holds("<Description>")) {
            record.Description = platform::ReplaceAll(ElementValue(line, "Description"), "&", "and");
            out += platform::ReplaceAll(line, "&", "and") + "\n";
        } else if (holds("<WebDescription>")) {
            std::string v = ElementValue(line, "WebDescription");
            if (v.empty()) v = record.Description;
            if (s.updateDescriptionsFromHtml) {
                if (inputs.findDescription) {
                    if (auto found = inputs.findDescription(platform::ReplaceAll(courseID, "_adl_", "_int_"))) {
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
            out += trimmed.empty() ? ElementLine("WebTitle", courseID) : unchanged;
        } else if (holds("<ProductCode>")) {
            const std::string value = ElementValue(line, "ProductCode");
            record.ProductCode = value.empty() ? courseID : value;
            out += value.empty() ? ElementLine("ProductCode", courseID) : unchanged;
            seen.productCode = true;
        } else if (holds("<Subtitle>")) {
            record.Subtitle = ElementValue(line, "Subtitle");
            out += unchanged;
        } else if (holds("<Language>")) {
            record.Language = ElementValue(line, "Language");
            out += unchanged;
        } else if (holds("</Attributes>")) {
            if (!seen.isHrs) out += IsHrsLine(s.enableHrSetting && s.isHr);
            if (!platform::Contains(courseID, "_vid_") && !seen.productCode) {
                out += ElementLine("ProductCode", courseID);
                record.ProductCode = courseID;
            }
            out += unchanged;
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
            out += s.enableHrSetting ? IsHrsLine(s.isHr) : unchanged;
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
            out += unchanged;
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
            out += unchanged;
        } else {
            out += unchanged;
        }
    }
    // The bytes the UTF-8 stream and the normaliser would leave.
    return FinishedTextBytes(out);
}
