#pragma once

#include <string_view>

#include "catalogues/Catalogues.h"

// The entries of "HTML course descriptions.txt" in file order: one per line
// holding a course key, a TAB and a description. A leading byte-order mark,
// CRs at line ends, empty lines, TABs in front of the key and lines without a
// description are skipped.
DescriptionCatalogue ParseDescriptionCatalogue(std::string_view bytes);
