#pragma once

#include <string_view>

#include "catalogues/Catalogues.h"

// The entries of "VOD info.txt" from the file's bytes, in file order. Every
// line read makes an entry; a line of nothing but CRs after the first entry
// ends the reading.
VodCatalogue ParseVodCatalogue(std::string_view bytes);

// One catalogue line (already cut at its CR) split into its four fields.
VodInfoEntry SplitVodCatalogueLine(std::string_view line);
