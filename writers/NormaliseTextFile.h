#pragma once

#include <string>
#include <string_view>
#include <system_error>

#include "writers/BundleFiles.h"

// What the normaliser's temporary copy adds to its file's name ("<path>_temp").
inline constexpr std::string_view kNormaliserTempSuffix = "_temp";

// The normaliser's byte rule: a first byte 0xEF takes the first three bytes
// with it (taken to be a byte-order mark), and every CR byte is left out.
std::string NormaliseBytes(std::string_view bytes);

// The bytes a generated text file ends up with after it was written through a
// UTF-8 text stream (byte-order mark, CR LF) and then normalised: the UTF-8
// text with every CR left out. Writers write these bytes once.
std::string FinishedTextBytes(std::string_view text);

// Writes a generated text file's finished bytes (see FinishedTextBytes) and,
// as the normaliser would, clears a "<path>_temp" left beside it.
[[nodiscard]] bool WriteNormalisedFile(BundleFiles& files, const std::string& path, std::string_view finishedBytes);
// The same for a file too large to hold: `fill` writes its finished bytes.
[[nodiscard]] bool WriteNormalisedFileWith(BundleFiles& files, const std::string& path,
                                           const platform::FillStagedFile& fill);

// Rewrites the file at `path` in place by the byte rule. A missing file is not
// created and is no failure; one that cannot be read is left as it was and
// noted. A file named like the temporary copy ("<path>_temp") is removed. A
// file whose bytes would not change is not written again.
void NormaliseTextFile(BundleFiles& files, const std::string& path);
