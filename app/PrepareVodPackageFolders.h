#pragma once

#include <string>

#include "writers/BundleFiles.h"

// Gives each direct subfolder of a "vod packages" starting folder that has no
// xml/interface.xml the minimal one, staged in `files`. A file that is there
// but cannot be read holds the package's settings and is left alone.
void PrepareVodPackageFolders(BundleFiles& files, const std::string& startFolder);
