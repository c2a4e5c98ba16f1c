#pragma once

#include <optional>
#include <string_view>

#include "catalogues/Catalogues.h"

// The entries of "HTML course descriptions.txt" in file order: one per line
// holding a course key, a TAB and a description. A leading byte-order mark,
// CRs at line ends, empty lines, TABs in front of the key and lines without a
// description are skipped.
DescriptionCatalogue ParseDescriptionCatalogue(std::string_view bytes);

// The entry of one line of the file, without its LF (`first`: the file's
// first line, which may start with the byte-order mark); nothing for a line
// that holds none.
std::optional<DescriptionEntry> ParseDescriptionLine(std::string_view line, bool first);
