#pragma once

#include <functional>
#include <string>

// One substitution of a template copy: a template line holding `marker` is
// replaced by `replacement` (the whole line, line end included). With
// `keepMatchedLine` the template line is written unchanged and `replacement`
// follows it instead. When `makeReplacement` is set it is called each time
// the rule matches and gives the replacement in place of `replacement`.
struct TemplateRule {
    std::string marker;
    std::string replacement;
    bool keepMatchedLine = false;
    std::function<std::string()> makeReplacement = nullptr;
};

// Whether a writer clears the read-only attribute of the file it replaces.
enum class ReadOnly { keep, clear };
