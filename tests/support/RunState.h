#pragma once

#include <string>
#include <utility>

#include "bundle/CourseRecord.h"
#include "settings/CourseSettings.h"
#include "writers/BundleFiles.h"
#include "writers/Installation.h"
#include "writers/RunReport.h"
#include "writers/TincanXml.h"

// What a run hands the jobs and writers, for a test that calls them itself.
struct RunState {
    explicit RunState(const std::string& installFolder, std::string xapiHost = std::string(kDefaultXapiHost))
        : installation(installFolder, std::move(xapiHost)) {}
    RunState(const RunState&) = delete;
    RunState& operator=(const RunState&) = delete;

    CourseSettings settings;
    CourseRecord record;
    RunReport report;
    BundleFiles files{report};
    Installation installation;
};
