#pragma once

#include <functional>
#include <optional>
#include <string>

#include "bundle/CourseRecord.h"
#include "settings/CourseSettings.h"
#include "writers/BundleFiles.h"
#include "writers/Installation.h"
#include "writers/SchemaCheck.h"

// What the walk tells the run as it goes.
class WalkListener {
public:
    virtual ~WalkListener() = default;
    // A settings file that must be converted first: `note` (with its line end)
    // is in the run report; the person is shown it.
    virtual void CourseError(const std::string& note) = 0;
    // A bundle (or VOD package) is done; false when the person asked to stop.
    [[nodiscard]] virtual bool BundleDone(const std::string& courseFolder) = 0;
    // The manifest or activity file of the bundle in hand was generated at
    // `path` (staged with the bundle's files): the place to check it.
    virtual void PackageFileGenerated(const std::string& /*path*/, PackageFile /*file*/) {}
};

// The run's state the main job reads and changes.
struct MainJobContext {
    const CourseSettings& settings;
    CourseRecord& record;
    RunReport& report;
    BundleFiles& files;
    Installation& install;
    // The description catalogue's entry for a key; empty when the catalogue holds no entries.
    std::function<std::optional<std::string>(const std::string& key)> findDescription;
    WalkListener& listener;
};

// The main job's walk: patches every course bundle below `folder` (the folder
// itself is never tested), depth first in listing order, entering no folder
// twice.
void WalkCourseFolder(const std::string& folder, MainJobContext& job);
