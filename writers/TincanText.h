#pragma once

#include <string>
#include <string_view>

// The activity host used when the install store names none ("xAPI Host").
inline constexpr std::string_view kDefaultXapiHost = "elearning.example.com";

// The activity identifier of a course: http://HOST/<courseID>/xapi/course.
std::string XapiActivityId(std::string_view host, std::string_view courseID);

// A course description made safe for the activity file: ampersands first, then
// quotes, apostrophes, commas, parentheses, typographic quotes and dashes that
// were taken one byte per character, and angle brackets, each as a reference.
std::string EscapeXapiDescription(std::string_view description);
