#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "app/QuarvelRun.h"
#include "platform/FileSystem.h"

// Each template as last read and split into lines, reused while its file
// stays the same, so that a run over thousands of bundles reads each template once.
struct QuarvelRun::TemplateCache {
    struct Entry {
        platform::FileStamp stamp;
        std::vector<std::string> lines;
    };
    std::unordered_map<std::string, Entry> entries;

    // The lines of the template at `path`, read again only when its stamp
    // changed; nothing when it cannot be read. Valid until the next call.
    const std::vector<std::string>* Lines(const std::string& path);
};
