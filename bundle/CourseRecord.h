#pragma once

#include <string>

#include "settings/CourseSettings.h"
#include "writers/Installation.h"
#include "writers/ScormManifest.h"

// The values of the course bundle (or VOD package) in hand, read by the writers.
struct CourseRecord {
    std::string courseID;
    std::string ProductCode;
    std::string WebTitle;
    std::string Subtitle;
    std::string Language;
    std::string Description;
    std::string WebDescription;
};

// The manifest of the bundle (or VOD package) in hand, from its record and the run's options.
ManifestInputs ManifestFromRecord(const CourseRecord& record, const CourseSettings& settings,
                                  const Installation& install);
