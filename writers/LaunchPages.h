#pragma once

#include <string>

#include "writers/BundleFiles.h"
#include "writers/Installation.h"

// The course page "<courseID>.htm" from the template html/courseID.htm. With
// an `adapterScript` (a URL relative to the page) the page loads that script
// right after the template's "<head>" line, before the player starts.
void WriteCoursePage(BundleFiles& files, Installation& install, const std::string& path, const std::string& courseID,
                     const std::string& adapterScript = {});

// The xAPI launch page index.html from the template html/index.html.
void WriteIndexPage(BundleFiles& files, Installation& install, const std::string& path, const std::string& courseID);
