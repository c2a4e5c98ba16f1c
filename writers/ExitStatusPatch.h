#pragma once

#include <string>

#include "settings/CourseSettings.h"
#include "writers/BundleFiles.h"
#include "writers/Installation.h"

// The lines inserted after each LMS_SetLessonStatus call of communication.js,
// translating the status in `args` for the chosen convention; they end with an
// empty line. Every mode but the first two gets the passed-with-no-posttest one.
std::string ExitStatusSnippet(ExitStatusMode mode);

// Writes `scriptsFolder`/communication.js from the template script with the
// snippet after each LMS_SetLessonStatus line. A read-only script is refused
// and noted.
void PatchExitStatus(BundleFiles& files, Installation& install, const std::string& scriptsFolder, ExitStatusMode mode);
