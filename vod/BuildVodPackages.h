#pragma once

#include <functional>
#include <string>

#include "bundle/CourseRecord.h"
#include "bundle/WalkCourseFolder.h"
#include "catalogues/Catalogues.h"
#include "settings/CourseSettings.h"
#include "writers/BundleFiles.h"
#include "writers/Installation.h"

// The run's state the VOD job reads and changes.
struct VodJobContext {
    CourseSettings& settings;
    CourseRecord& record;
    BundleFiles& files;
    Installation& install;
    // Reloads the VOD catalogue (on entering each folder) and looks a title up in it.
    std::function<void()> loadVodCatalogue;
    std::function<const VodInfoEntry*(const std::string& courseID)> findVodInfo;
    WalkListener& listener;
};

// The VOD job: one package per course video ("*_vid_*.mp4") below `folder`,
// side by side in the installation's "vod packages" folder. With `copyVideo`
// the video itself is copied into its package.
void BuildVodPackages(const std::string& folder, bool copyVideo, VodJobContext& job);
