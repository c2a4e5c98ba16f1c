#include "app/QuarvelRun.h"

void QuarvelRun::PatchExitStatus(const std::string& scriptsFolder) { (void)scriptsFolder; }
