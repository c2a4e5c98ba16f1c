#pragma once

#include <string>

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
