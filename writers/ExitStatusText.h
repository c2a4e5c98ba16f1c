#pragma once

#include <string>

#include "settings/CourseSettings.h"

// The lines inserted after each LMS_SetLessonStatus call of communication.js,
// translating the status in `args` for the chosen convention; they end with an
// empty line. Every mode but the first two gets the passed-with-no-posttest one.
std::string ExitStatusSnippet(ExitStatusMode mode);
