#include "settings/SettingsPairs.h"

#include <array>
#include <utility>

namespace {

enum class Kind { Edit, Flag, TestMode, ExitStatus, Package };

struct Field {
    std::string_view name;
    Kind kind;
    std::string SettingsControls::*edit = nullptr;
    bool SettingsControls::*flag = nullptr;
};

constexpr Field EditField(std::string_view name, std::string SettingsControls::*edit) {
    return {name, Kind::Edit, edit, nullptr};
}
constexpr Field FlagField(std::string_view name, bool SettingsControls::*flag) {
    return {name, Kind::Flag, nullptr, flag};
}

const std::array<Field, 25>& Fields() {
    static const std::array<Field, 25> fields = {
        EditField("pretestQuestionCount", &SettingsControls::pretestQuestionCount),
        EditField("posttestQuestionCount", &SettingsControls::posttestQuestionCount),
        EditField("pretestPassingScore", &SettingsControls::pretestPassingScore),
        EditField("posttestPassingScore", &SettingsControls::posttestPassingScore),
        Field{"testMode", Kind::TestMode},
        FlagField("assessmentAutoSkip", &SettingsControls::assessmentAutoSkip),
        EditField("posttestRetakeCount", &SettingsControls::posttestRetakeCount),
        FlagField("allowVideoSkip", &SettingsControls::allowVideoSkip),
        FlagField("showNavBar", &SettingsControls::showNavBar),
        FlagField("accessibilityDefault", &SettingsControls::accessibilityDefault),
        FlagField("enableReverse", nullptr),
        FlagField("certificatePrinting", &SettingsControls::certificatePrinting),
        EditField("courseTimeout", &SettingsControls::courseTimeout),
        FlagField("isHr", &SettingsControls::isHr),
        FlagField("enableHrSetting", &SettingsControls::enableHrSetting),
        Field{"exitStatusMode", Kind::ExitStatus},
        FlagField("fullScreenAtStartup", &SettingsControls::fullScreenAtStartup),
        FlagField("skipCongratsScreen", &SettingsControls::skipCongratsScreen),
        FlagField("deleteBmp", &SettingsControls::deleteBmp),
        FlagField("updateDescriptionsFromHtml", &SettingsControls::updateDescriptionsFromHtml),
        FlagField("updateFromSpreadsheet", &SettingsControls::updateFromSpreadsheet),
        FlagField("updateDescriptionsInInterfaceXml", &SettingsControls::updateDescriptionsInInterfaceXml),
        FlagField("createVodPackages", &SettingsControls::createVodPackages),
        FlagField("keepDetailedBookmarking", &SettingsControls::keepDetailedBookmarking),
        Field{"packageType", Kind::Package},
    };
    return fields;
}

const Field* FindField(std::string_view name) {
    for (const Field& field : Fields()) {
        if (field.name == name) return &field;
    }
    return nullptr;
}

std::string BadValue(std::string_view name, std::string_view value, std::string_view expected) {
    return "bad value '" + std::string(value) + "' for " + std::string(name) + " (expected " + std::string(expected) +
           ")";
}

}  // namespace

bool IsSettingsName(std::string_view name) {
    return FindField(name) != nullptr;
}

std::string ApplySettingsPair(SettingsControls& controls, std::string_view name, std::string_view value) {
    const Field* field = FindField(name);
    if (field == nullptr) return "unknown setting name '" + std::string(name) + "'";
    switch (field->kind) {
        case Kind::Edit:
            controls.*(field->edit) = std::string(value);
            return {};
        case Kind::Flag: {
            // enableReverse has no control: it is accepted and, as in the dialog, stays false.
            bool ignored = false;
            bool& target = field->flag != nullptr ? controls.*(field->flag) : ignored;
            if (value == "true") {
                target = true;
            } else if (value == "false") {
                target = false;
            } else {
                return BadValue(name, value, "true or false");
            }
            return {};
        }
        case Kind::TestMode:
            if (value == "Pretest" || value == "Assessment") {
                controls.testMode = value == "Pretest" ? TestMode::Pretest : TestMode::Assessment;
                controls.assessmentRadioSelected = controls.testMode == TestMode::Assessment;
                return {};
            }
            return BadValue(name, value, "Pretest or Assessment");
        case Kind::ExitStatus: {
            static const std::array<std::pair<std::string_view, ExitStatusMode>, 4> modes = {{
                {"ScormConformant", ExitStatusMode::ScormConformant},
                {"CompletedIncomplete", ExitStatusMode::CompletedIncomplete},
                {"PassedIncomplete", ExitStatusMode::PassedIncomplete},
                {"PassedNoPosttest", ExitStatusMode::PassedNoPosttest},
            }};
            for (const auto& [text, mode] : modes) {
                if (value == text) {
                    controls.exitStatus = mode;
                    return {};
                }
            }
            return BadValue(name, value, "ScormConformant, CompletedIncomplete, PassedIncomplete or PassedNoPosttest");
        }
        case Kind::Package:
            if (value == "Scorm12" || value == "Xapi") {
                controls.packageType = value == "Scorm12" ? PackageType::Scorm12 : PackageType::Xapi;
                return {};
            }
            return BadValue(name, value, "Scorm12 or Xapi");
    }
    return {};
}

std::string ApplySettingsText(SettingsControls& controls, std::string_view text, const std::string& fileName) {
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        text = lf == std::string_view::npos ? std::string_view() : text.substr(lf + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string_view::npos || line[start] == '#') continue;
        const std::size_t eq = line.find('=');
        const std::string where = fileName + ":" + std::to_string(lineNumber) + ": ";
        if (eq == std::string_view::npos) return where + "expected NAME=VALUE";
        if (std::string problem = ApplySettingsPair(controls, line.substr(start, eq - start), line.substr(eq + 1));
            !problem.empty()) {
            return where + problem;
        }
    }
    return {};
}
