#pragma once

#include <string>
#include <string_view>

#include "writers/BundleFiles.h"

// The script a SCORM 2004 course bundle carries beside the player's
// communication script: it finds the LMS's SCORM 2004 API (API_1484_11) and
// offers the SCORM 1.2 calls the player makes (window.API) on top of it. It
// is part of the program, not of the installation, so that every bundle gets
// the same bytes.
inline constexpr std::string_view kScorm2004AdapterName = "scorm2004-adapter.js";

// The script's text (UTF-8, LF line ends).
std::string_view Scorm2004AdapterScript();

// The script's URL relative to the course page in `courseFolder`, for a
// bundle whose player files lie in `contentFolder` (the course folder or a
// folder below it).
std::string Scorm2004AdapterUrl(const std::string& courseFolder, const std::string& contentFolder);

// Writes the script into `scriptsFolder` (the content folder's scripts).
void WriteScorm2004Adapter(BundleFiles& files, const std::string& scriptsFolder);
