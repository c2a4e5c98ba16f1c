#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "writers/BundleFiles.h"
#include "writers/Installation.h"

// The activity host used when the install store names none ("xAPI Host").
inline constexpr std::string_view kDefaultXapiHost = "elearning.example.com";

// The activity identifier of a course: http://HOST/<courseID>/xapi/course.
std::string XapiActivityId(std::string_view host, std::string_view courseID);

// A course description made safe for the activity file: ampersands first, then
// quotes, apostrophes, commas, parentheses, typographic quotes and dashes that
// were taken one byte per character, and angle brackets, each as a reference.
std::string EscapeXapiDescription(std::string_view description);

// The activity file from the template's lines: the activity line, the course
// name and the escaped description put in. The description is escaped again
// at each line that takes it, and `webDescription` comes back as the last
// line left it (unchanged when no line takes it).
struct TincanXml {
    std::string bytes;  // finished text: UTF-8, LF line ends, no byte-order mark
    std::string webDescription;
};
TincanXml TincanXmlText(const std::vector<std::string>& templateLines, std::string_view host, std::string_view courseID,
                        std::string_view webTitle, std::string webDescription);

// Writes `path` from the template html/tincan.xml; returns the description
// as the writer leaves it (see TincanXmlText; unchanged when no file is written).
std::string WriteTincanXml(BundleFiles& files, Installation& install, const std::string& path,
                           std::string_view courseID, std::string_view webTitle, std::string webDescription);
