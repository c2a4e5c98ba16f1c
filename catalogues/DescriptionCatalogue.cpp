#include "app/QuarvelRun.h"

void QuarvelRun::LoadDescriptionCatalogue() { descriptionCatalogue.clear(); }

std::optional<std::string> QuarvelRun::FindCourseDescription(const std::string& key) const {
    (void)key;
    return std::nullopt;
}
