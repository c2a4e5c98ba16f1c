#pragma once

#include <string>
#include <unordered_map>

#include "app/QuarvelRun.h"

// Template files as last read, kept while their size and last-write time stay.
struct QuarvelRun::TemplateCache {
    struct Entry {
        long long size = -1;
        long long modifiedNanoseconds = 0;
        std::string bytes;
    };
    std::unordered_map<std::string, Entry> entries;
};
