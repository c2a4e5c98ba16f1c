#include "app/QuarvelRun.h"

void QuarvelRun::WriteCoursePage(const std::string& path) { (void)path; }

void QuarvelRun::WriteIndexPage(const std::string& path) { (void)path; }
