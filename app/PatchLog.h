#pragma once

#include <ctime>
#include <string>
#include <string_view>

// Appends a dated section to the patch log at `logPath`: two line breaks,
// `heading`, the date stamp of `now`, ":" and `body` (each line ending in LF),
// as UTF-16LE under the log's lock. False, with `problem` saying why, when it
// cannot.
bool AppendPatchLogSection(const std::string& logPath, std::string_view heading, const std::tm& now,
                           const std::string& body, std::string& problem);
