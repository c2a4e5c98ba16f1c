#include "app/QuarvelRun.h"

void QuarvelRun::CopyTemplate(const std::string& templatePath, const std::string& outputPath,
                              const std::vector<TemplateRule>& rules, ReadOnly clearReadOnly) {
    (void)templatePath;
    (void)outputPath;
    (void)rules;
    (void)clearReadOnly;
}
