#include "app/QuarvelRun.h"

void QuarvelRun::RewriteInterfaceXml(const std::string& header, const std::vector<std::string>& lines,
                                     const std::string& path) {
    (void)header;
    (void)lines;
    (void)path;
}
