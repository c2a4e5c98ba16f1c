#include "settings/SettingsPairs.h"

#include "settings/SettingsFields.h"

namespace {

std::string_view TrimBlanks(std::string_view text) {
    const std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos) return {};
    return text.substr(start, text.find_last_not_of(" \t") - start + 1);
}

// "true or false", "Scorm12 or Xapi", "A, B, C or D".
std::string ExpectedValues(const SettingsField& field) {
    std::string words;
    for (std::size_t i = 0; i < field.values.size(); ++i) {
        if (i > 0) words += i + 1 == field.values.size() ? " or " : ", ";
        words += field.values[i].name;
    }
    return words;
}

}  // namespace

bool IsSettingsName(std::string_view name) {
    return FindSettingsField(TrimBlanks(name)) != nullptr;
}

std::string ApplySettingsPair(SettingsControls& controls, std::string_view name, std::string_view value) {
    name = TrimBlanks(name);
    const SettingsField* field = FindSettingsField(name);
    if (field == nullptr) return "unknown setting name '" + std::string(name) + "'";
    if (field->kind == FieldKind::Number) {
        // The edit box would take more, but a sign, a letter or a stray
        // blank here is a typing mistake that would patch every course.
        if (const std::string expected = CheckNumberText(*field, value); !expected.empty()) {
            return "bad value '" + std::string(value) + "' for " + std::string(name) + " (expected " + expected + ")";
        }
        controls.SetNumberText(*field, std::string(value));
        return {};
    }
    const FieldValue* chosen = nullptr;
    for (const FieldValue& candidate : field->values) {
        if (candidate.name == value) chosen = &candidate;
    }
    if (chosen == nullptr) {
        return "bad value '" + std::string(value) + "' for " + std::string(name) + " (expected " +
               ExpectedValues(*field) + ")";
    }
    if (field->kind == FieldKind::Flag) {
        // A flag without a checkbox (enableReverse) is accepted and, as in the dialog, keeps its default.
        if (field->control != kNoControl) controls.SetSelected(field->control, chosen->value != 0);
        return {};
    }
    for (const FieldValue& radio : field->values) controls.SetSelected(radio.radio, false);
    controls.SetSelected(chosen->radio, true);
    return {};
}

std::vector<std::string> ApplySettingsText(SettingsControls& controls, std::string_view text,
                                           const std::string& fileName) {
    const auto where = [&fileName](int lineNumber) { return fileName + ":" + std::to_string(lineNumber) + ": "; };
    // A file saved as "Unicode" would otherwise give one baffling problem per line.
    if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
        return {where(1) + "the file is UTF-16 text; save it as UTF-8"};
    }
    // Editors on some systems start a UTF-8 file with a byte-order mark.
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    std::vector<std::string> problems;
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        text = lf == std::string_view::npos ? std::string_view() : text.substr(lf + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::string_view content = TrimBlanks(line);
        if (content.empty() || content.front() == '#') continue;
        const std::size_t eq = content.find('=');
        if (eq == std::string_view::npos) {
            problems.push_back(where(lineNumber) + "expected NAME=VALUE");
        } else if (std::string problem =
                       ApplySettingsPair(controls, content.substr(0, eq), TrimBlanks(content.substr(eq + 1)));
                   !problem.empty()) {
            problems.push_back(where(lineNumber) + problem);
        }
    }
    return problems;
}
