#pragma once

#include <string>

#include "writers/BundleFiles.h"

// Copies the player assets from the template folder `web` into the course
// folder and its content folder, creating the folders they need, and deletes
// scripts/file_exists.php. With `scriptIsPatched` the template's
// communication.js is left to the exit-status patch. Returns the content folder.
std::string RefreshAssets(BundleFiles& files, const std::string& web, const std::string& courseFolder,
                          const std::string& courseID, bool scriptIsPatched);
