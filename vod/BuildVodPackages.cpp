#include "app/QuarvelRun.h"

void QuarvelRun::BuildVodPackages(const std::string& folder, bool copyVideo) {
    (void)folder;
    (void)copyVideo;
}

void QuarvelRun::PackageVideo(const std::string& sourceFolder, const std::string& fileName, bool copyVideo) {
    (void)sourceFolder;
    (void)fileName;
    (void)copyVideo;
}
