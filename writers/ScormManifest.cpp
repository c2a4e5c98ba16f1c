#include "app/QuarvelRun.h"

void QuarvelRun::WriteScormManifest(const std::string& path) { (void)path; }
