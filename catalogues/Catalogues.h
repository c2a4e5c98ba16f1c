#pragma once

#include <string>
#include <vector>

struct DescriptionEntry {
    std::string courseKey;
    std::string htmlDescription;
};

struct VodInfoEntry {
    std::string vodKey;
    std::string productCode;
    std::string courseTitle;
    std::string htmlDescription;
};

using DescriptionCatalogue = std::vector<DescriptionEntry>;
using VodCatalogue = std::vector<VodInfoEntry>;
