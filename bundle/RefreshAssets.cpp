#include "app/QuarvelRun.h"

std::string QuarvelRun::RefreshAssets(const std::string& courseFolder) { return courseFolder; }
