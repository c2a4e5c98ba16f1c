#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bundle/CourseRecord.h"
#include "platform/FileSystem.h"
#include "settings/CourseSettings.h"

// What the rewrite of one settings file takes besides its lines.
struct RewriteInputs {
    const CourseSettings& settings;
    // The course bundle's key (lower-cased course folder name); set in the record too.
    std::string courseID;
    // The last-write date of the installation's program file, which the
    // course version carries; nothing keeps a file's old version line.
    std::optional<platform::LocalDate> programDate;
    // The description catalogue's entry for a key, when descriptions come from
    // the catalogue and it holds entries; empty otherwise.
    std::function<std::optional<std::string>(const std::string& key)> findDescription;
};

// The settings file rewritten line by line with the run's options: the
// finished bytes (UTF-8, no byte-order mark, LF line ends), or nothing for a
// file without a header line (it held no text, and nothing may be written
// that was not in it). Fills `record` from the file's values: WebTitle,
// WebDescription and Language always; Description, ProductCode and Subtitle
// when the file holds them (else they keep the values of the bundle before).
std::optional<std::string> RewriteInterfaceXml(const std::string& header, const std::vector<std::string>& lines,
                                               const RewriteInputs& inputs, CourseRecord& record);
