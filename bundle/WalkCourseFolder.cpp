#include "app/QuarvelRun.h"

void QuarvelRun::WalkCourseFolder(const std::string& folder) { (void)folder; }

void QuarvelRun::PatchBundle(const std::string& xmlFolder) { (void)xmlFolder; }
