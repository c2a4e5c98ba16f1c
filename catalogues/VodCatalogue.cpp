#include "app/QuarvelRun.h"

void QuarvelRun::LoadVodCatalogue() { vodCatalogue.clear(); }

const VodInfoEntry* QuarvelRun::FindVodInfo(const std::string& title) const {
    (void)title;
    return nullptr;
}
