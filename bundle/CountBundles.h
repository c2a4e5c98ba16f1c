#pragma once

#include <chrono>
#include <string>

// A first pass before a long job, so that its progress can show a total: it
// lists the folders the job will walk and opens no file. The count is an
// estimate: a link that leads out of the folder, a settings file that turns
// out unreadable, or a folder that changes meanwhile can make the job do
// fewer or more.

// The course bundles the main job's walk would patch below `folder`: each
// folder named xml* (in any letter case) that holds interface.xml, in a
// folder without fsscorm.js, every folder entered once however links lead
// to it; plus each "_vid_" folder without xml/interface.xml, which the walk
// gives one.
int CountCourseBundles(const std::string& folder);

// The videos the VOD job would package below `folder`: the files named
// *_vid_*.mp4 in any letter case, every folder entered once.
int CountVodVideos(const std::string& folder);

// What a progress display shows after `done` bundles, `elapsed` since the job
// started. `expected` is the count made before (kTotalUnknown when none was):
// the total shown never falls below `done`.
inline constexpr int kTotalUnknown = -1;
struct ProgressView {
    int done = 0;
    int total = kTotalUnknown;  // at least `done` when known
    std::string count;          // "12 of 40", or "Done so far: 12" without a total
    std::string timeLeft;       // "about 3 min left"; empty until it can be told, and at the end
};
ProgressView DescribeProgress(int done, int expected, std::chrono::milliseconds elapsed);
