#pragma once

#include <string>
#include <vector>

#include "writers/BundleFiles.h"
#include "writers/Installation.h"
#include "writers/TemplateRule.h"

// The template copy: `outputPath` receives the template's lines with the
// rules applied, as finished text (UTF-8, LF line ends, no byte-order mark).
// A missing template leaves the output file as it was; one that is there but
// cannot be read leaves it too, and is noted.
void CopyTemplate(BundleFiles& files, Installation& install, const std::string& templatePath,
                  const std::string& outputPath, const std::vector<TemplateRule>& rules, ReadOnly clearReadOnly);
