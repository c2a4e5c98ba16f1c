#include "app/QuarvelRun.h"

void QuarvelRun::WriteTincanXml(const std::string& path) { (void)path; }
