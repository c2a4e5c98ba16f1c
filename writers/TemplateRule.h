#pragma once

#include <string>

// One substitution of a template copy: a template line holding `marker` is
// replaced by `replacement` (the whole line, line end included). With
// `keepMatchedLine` the template line is written unchanged and `replacement`
// follows it instead.
struct TemplateRule {
    std::string marker;
    std::string replacement;
    bool keepMatchedLine = false;
};

// Whether a writer clears the read-only attribute of the file it replaces.
enum class ReadOnly { keep, clear };
