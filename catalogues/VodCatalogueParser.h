#pragma once

#include <string_view>

#include "catalogues/Catalogues.h"

// The entries of "VOD info.txt" from the file's bytes, in file order. Every
// line read makes an entry; a line of nothing but CRs after the first entry
// ends the reading.
VodCatalogue ParseVodCatalogue(std::string_view bytes);

// One catalogue line (already cut at its CR) split into its four fields.
VodInfoEntry SplitVodCatalogueLine(std::string_view line);

// What one line of the file (without its LF) is to the reading: `firstInFile`
// for the line at the file's start (it may hold the byte-order mark),
// `firstEntry` while no entry came before it (its key and code are trimmed).
struct VodCatalogueLine {
    enum class Kind { skipped, end, entry };
    Kind kind = Kind::skipped;
    VodInfoEntry entry;
};
VodCatalogueLine ParseVodCatalogueLine(std::string_view line, bool firstInFile, bool firstEntry);
