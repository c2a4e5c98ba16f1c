#pragma once

#include <string>

#include "writers/BundleFiles.h"
#include "writers/Installation.h"

// The course page "<courseID>.htm" from the template html/courseID.htm.
void WriteCoursePage(BundleFiles& files, Installation& install, const std::string& path, const std::string& courseID);

// The xAPI launch page index.html from the template html/index.html.
void WriteIndexPage(BundleFiles& files, Installation& install, const std::string& path, const std::string& courseID);
