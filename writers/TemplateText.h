#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "writers/TemplateRule.h"

// A template's lines as the template copy reads them: bytes taken one per
// character (written out as UTF-8), split at LF with a CR before it dropped,
// and a byte-order mark removed from the first line. An empty template still
// has its one empty first line; a final LF does not start another line.
std::vector<std::string> SplitTemplateLines(std::string_view bytes);

// The copied text, each line ending in LF: the first line as it is, an empty
// line as a bare line end, any other line replaced by the first rule whose
// marker it holds (case-sensitive), or kept.
std::string FillTemplate(const std::vector<std::string>& lines, const std::vector<TemplateRule>& rules);
