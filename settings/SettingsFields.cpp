#include "settings/SettingsFields.h"

#include <algorithm>
#include <type_traits>
#include <utility>

namespace {

constexpr FieldValue kFlagValues[] = {{"true", 1}, {"false", 0}};

// The file format group's one radio: it stays selected and sets no field.
constexpr int kFileFormatRadio = 1003;
constexpr int kPretestRadio = 1011;
constexpr int kAssessmentRadio = 1012;
// The pretest pass mark's edit box, whose label says what Assessment mode makes of it.
constexpr int kPretestScoreEdit = 1009;
constexpr int kMostPassMark = 100;

constexpr std::string_view kPretestCountText = "Pretest Question Count";
constexpr std::string_view kPretestScoreText = "Pretest Passing Score";
constexpr std::string_view kAssessmentCountText = "Postscriptive posttest question count (3-6)";
constexpr std::string_view kAssessmentScoreText = "Assessment / Prescriptive Posttest Passing Score";

constexpr FieldValue kTestModes[] = {
    {"Pretest", static_cast<int>(TestMode::Pretest), kPretestRadio},
    {"Assessment", static_cast<int>(TestMode::Assessment), kAssessmentRadio},
};
constexpr FieldValue kExitStatusModes[] = {
    {"ScormConformant", static_cast<int>(ExitStatusMode::ScormConformant), 1006},
    {"CompletedIncomplete", static_cast<int>(ExitStatusMode::CompletedIncomplete), 1022},
    {"PassedIncomplete", static_cast<int>(ExitStatusMode::PassedIncomplete), 1027},
    {"PassedNoPosttest", static_cast<int>(ExitStatusMode::PassedNoPosttest), 1028},
};
constexpr FieldValue kPackageTypes[] = {
    {"Scorm12", static_cast<int>(PackageType::Scorm12), 1044},
    {"Xapi", static_cast<int>(PackageType::Xapi), 1045},
    {"Scorm2004", static_cast<int>(PackageType::Scorm2004), 1052},
};

using S = CourseSettings;
using K = FieldKind;

// clang-format off
const SettingsField kFields[] = {
    {.name = "pretestQuestionCount", .kind = K::Number, .member = &S::pretestQuestionCount, .control = 1007},
    {.name = "posttestQuestionCount", .kind = K::Number, .member = &S::posttestQuestionCount, .control = 1008,
     .inAssessment = InAssessment::CopyPretest, .copyOf = &S::pretestQuestionCount,
     .note = "with testMode=Assessment: the value of pretestQuestionCount"},
    {.name = "pretestPassingScore", .kind = K::Number, .member = &S::pretestPassingScore,
     .control = kPretestScoreEdit, .note = "0 to 100; -1: none given", .maximum = kMostPassMark,
     .label = kPretestScoreText},
    {.name = "posttestPassingScore", .kind = K::Number, .member = &S::posttestPassingScore, .control = 1010,
     .inAssessment = InAssessment::CopyPretest, .copyOf = &S::pretestPassingScore,
     .note = "0 to 100; -1: none given; with testMode=Assessment: the value of pretestPassingScore",
     .maximum = kMostPassMark, .label = "Posttest Passing Score"},
    {.name = "testMode", .kind = K::Choice, .member = &S::testMode, .values = kTestModes,
     .source = ChoiceSource::LastClick},
    {.name = "assessmentAutoSkip", .kind = K::Flag, .member = &S::assessmentAutoSkip, .control = kAutoSkipCheckbox,
     .values = kFlagValues, .inAssessment = InAssessment::OnlyThen,
     .note = "read only with testMode=Assessment, where it is false unless given"},
    {.name = "posttestRetakeCount", .kind = K::Number, .member = &S::posttestRetakeCount, .control = 1021},
    {.name = "allowVideoSkip", .kind = K::Flag, .member = &S::allowVideoSkip, .control = 1016, .values = kFlagValues},
    {.name = "showNavBar", .kind = K::Flag, .member = &S::showNavBar, .control = 1041, .values = kFlagValues},
    {.name = "accessibilityDefault", .kind = K::Flag, .member = &S::accessibilityDefault, .control = 1047,
     .values = kFlagValues},
    {.name = "enableReverse", .kind = K::Flag, .member = &S::enableReverse, .values = kFlagValues,
     .note = "accepted, but always false"},
    {.name = "certificatePrinting", .kind = K::Flag, .member = &S::certificatePrinting, .control = 1018,
     .values = kFlagValues},
    {.name = "courseTimeout", .kind = K::Number, .member = &S::courseTimeout, .control = 1019, .openingText = "60"},
    {.name = "isHr", .kind = K::Flag, .member = &S::isHr, .control = 1042, .values = kFlagValues},
    {.name = "enableHrSetting", .kind = K::Flag, .member = &S::enableHrSetting, .control = 1043,
     .values = kFlagValues},
    {.name = "exitStatusMode", .kind = K::Choice, .member = &S::exitStatusMode, .values = kExitStatusModes},
    {.name = "fullScreenAtStartup", .kind = K::Flag, .member = &S::fullScreenAtStartup, .control = 1040,
     .values = kFlagValues, .clearedText = "normal", .tickedText = "full screen"},
    {.name = "skipCongratsScreen", .kind = K::Flag, .member = &S::skipCongratsScreen, .control = 1025,
     .values = kFlagValues},
    {.name = "deleteBmp", .kind = K::Flag, .member = &S::deleteBmp, .control = 1026, .values = kFlagValues},
    {.name = "updateDescriptionsFromHtml", .kind = K::Flag, .member = &S::updateDescriptionsFromHtml,
     .control = 1033, .values = kFlagValues},
    {.name = "updateFromSpreadsheet", .kind = K::Flag, .member = &S::updateFromSpreadsheet, .control = 1048,
     .values = kFlagValues, .note = "the spreadsheet job, which takes no FOLDER (unless createVodPackages=true)"},
    {.name = "updateDescriptionsInInterfaceXml", .kind = K::Flag, .member = &S::updateDescriptionsInInterfaceXml,
     .control = 1046, .values = kFlagValues},
    {.name = "createVodPackages", .kind = K::Flag, .member = &S::createVodPackages, .control = 1034,
     .values = kFlagValues, .note = "the VOD job: FOLDER is the VOD content folder"},
    {.name = "keepDetailedBookmarking", .kind = K::Flag, .member = &S::keepDetailedBookmarking, .control = 1024,
     .values = kFlagValues},
    {.name = "packageType", .kind = K::Choice, .member = &S::packageType, .values = kPackageTypes, .fallback = 1},
    {.name = "zipPackages", .kind = K::Flag, .member = &S::zipPackages, .control = 1049, .values = kFlagValues,
     .note = "after the job, INSTALL/upload packages/PATH.zip of each bundle patched, PATH being its folder "
             "below FOLDER (for the VOD job: vod packages/TITLE)"},
    {.name = "validatePackages", .kind = K::Flag, .member = &S::validatePackages, .control = 1050,
     .values = kFlagValues, .note = "each generated imsmanifest.xml and tincan.xml checked against the schemas in INSTALL/schemas; "
             "a file that fails is named in the patch log with its first error"},
    {.name = "keepIdentifiers", .kind = K::Flag, .member = &S::keepIdentifiers, .control = 1051, .values = kFlagValues,
     .note = "a rewritten imsmanifest.xml keeps the bundle's item and resource identifiers"},
    {.name = "uploadSizeLimitMB", .kind = K::Number, .member = &S::uploadSizeLimitMB, .batchOnly = true,
     .note = "the upload check warns of a package larger than this many megabytes; not in the settings dialog"},
    {.name = "keepUndoRuns", .kind = K::Number, .member = &S::keepUndoRuns, .batchOnly = true,
     .note = "how many of the last runs can be taken back; 0: none; not in the settings dialog"},
};
// clang-format on

constexpr NonFieldControl kNonFieldControls[] = {
    {kFileFormatRadio, "the file format radio: its group's one choice, always selected"},
    {kUndoLastRunButton, "the Undo last run button: closes the dialog so that the last run is taken back"},
};

const FieldValue* FindValue(const SettingsField& field, int value) {
    for (const FieldValue& candidate : field.values) {
        if (candidate.value == value) return &candidate;
    }
    return nullptr;
}

}  // namespace

std::span<const SettingsField> SettingsFields() {
    return kFields;
}

const SettingsField* FindSettingsField(std::string_view name) {
    for (const SettingsField& field : kFields) {
        if (field.name == name) return &field;
    }
    return nullptr;
}

int ReadField(const CourseSettings& settings, const SettingsField& field) {
    return std::visit(
        [&](auto member) {
            const auto& source = settings.*member;
            if constexpr (std::is_same_v<std::remove_cvref_t<decltype(source)>, std::string>) {
                return source == field.tickedText ? 1 : 0;
            } else {
                return static_cast<int>(source);
            }
        },
        field.member);
}

void WriteField(CourseSettings& settings, const SettingsField& field, int value) {
    std::visit(
        [&](auto member) {
            auto& target = settings.*member;
            using T = std::remove_cvref_t<decltype(target)>;
            if constexpr (std::is_same_v<T, std::string>) {
                target = value != 0 ? field.tickedText : field.clearedText;
            } else if constexpr (std::is_same_v<T, bool>) {
                target = value != 0;
            } else {
                target = static_cast<T>(value);
            }
        },
        field.member);
}

std::string FieldValueText(const CourseSettings& settings, const SettingsField& field) {
    if (const auto* text = std::get_if<std::string CourseSettings::*>(&field.member)) {
        const std::string& held = settings.**text;
        if (held != field.tickedText && held != field.clearedText) return held;
    }
    const int value = ReadField(settings, field);
    if (field.kind == FieldKind::Number) return std::to_string(value);
    const FieldValue* named = FindValue(field, value);
    return named != nullptr ? std::string(named->name) : std::to_string(value);
}

std::string FieldValueChoices(const SettingsField& field) {
    if (field.kind == FieldKind::Number) return "NUMBER";
    std::string choices;
    for (const FieldValue& value : field.values) {
        if (!choices.empty()) choices += '|';
        choices += value.name;
    }
    return choices;
}

std::string CheckNumberText(const SettingsField& field, std::string_view text) {
    if (text.empty()) return {};
    const bool digitsOnly = text.size() <= kMostNumberDigits &&
                            std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digitsOnly && ConvertEditText(text) <= field.maximum) return {};
    if (field.maximum < kLargestNumber) {
        return "0 to " + std::to_string(field.maximum) + " in digits, or nothing for the default";
    }
    return "1 to " + std::to_string(kMostNumberDigits) + " digits, or nothing for the default";
}

std::span<const NonFieldControl> NonFieldControls() {
    return kNonFieldControls;
}

std::vector<std::vector<int>> SettingsRadioGroups() {
    std::vector<std::vector<int>> groups;
    groups.push_back({kFileFormatRadio});
    for (const SettingsField& field : kFields) {
        if (field.kind != FieldKind::Choice) continue;
        std::vector<int>& radios = groups.emplace_back();
        for (const FieldValue& value : field.values) radios.push_back(value.radio);
    }
    return groups;
}

int TestModeRadio(TestMode mode) {
    return mode == TestMode::Pretest ? kPretestRadio : kAssessmentRadio;
}

int AssessmentRadio() {
    return kAssessmentRadio;
}

TestModeView ViewOfTestMode(TestMode mode) {
    if (mode == TestMode::Pretest) return {false, kPretestCountText, kPretestScoreText};
    return {true, kAssessmentCountText, kAssessmentScoreText};
}

SettingsControls::SettingsControls() {
    selected.insert(kFileFormatRadio);
    const CourseSettings defaults;
    for (const SettingsField& field : kFields) {
        if (field.kind == FieldKind::Number && !field.batchOnly) {
            editTexts[field.control] = std::string(field.openingText);
        }
        if (field.kind != FieldKind::Choice) continue;
        if (const FieldValue* value = FindValue(field, ReadField(defaults, field))) selected.insert(value->radio);
    }
}

std::string_view SettingsControls::EditText(int id) const {
    const auto found = editTexts.find(id);
    return found == editTexts.end() ? std::string_view() : std::string_view(found->second);
}

std::string_view SettingsControls::NumberText(const SettingsField& field) const {
    if (!field.batchOnly) return EditText(field.control);
    const auto found = batchOnlyTexts.find(field.name);
    return found == batchOnlyTexts.end() ? std::string_view() : std::string_view(found->second);
}

void SettingsControls::SetNumberText(const SettingsField& field, std::string text) {
    if (field.batchOnly) {
        batchOnlyTexts[std::string(field.name)] = std::move(text);
    } else {
        editTexts[field.control] = std::move(text);
    }
}

void SettingsControls::SetSelected(int id, bool on) {
    if (on) {
        selected.insert(id);
    } else {
        selected.erase(id);
    }
}

namespace {

// The first step of OK for one field: its control read into the record.
void ReadControl(const SettingsField& field, const SettingsControls& controls, CourseSettings& settings) {
    switch (field.kind) {
        case FieldKind::Number:
            if (const std::string_view text = controls.NumberText(field); !text.empty()) {
                WriteField(settings, field, ConvertEditText(text));
            }
            return;
        case FieldKind::Flag:
            if (field.control != kNoControl) WriteField(settings, field, controls.IsSelected(field.control) ? 1 : 0);
            return;
        case FieldKind::Choice: {
            if (field.source == ChoiceSource::LastClick) return;
            int value = field.values[field.fallback].value;
            for (std::size_t i = 0; i < field.values.size(); ++i) {
                if (static_cast<int>(i) != field.fallback && controls.IsSelected(field.values[i].radio)) {
                    value = field.values[i].value;
                    break;
                }
            }
            WriteField(settings, field, value);
            return;
        }
    }
}

}  // namespace

void ApplyOkRules(const SettingsControls& controls, CourseSettings& settings) {
    const bool assessment = controls.IsSelected(kAssessmentRadio);
    for (const SettingsField& field : kFields) {
        if (field.inAssessment != InAssessment::OnlyThen || assessment) ReadControl(field, controls, settings);
    }
    if (!assessment) return;
    // The copies come after every edit box was read, so they take the pretest values just read.
    for (const SettingsField& field : kFields) {
        if (field.inAssessment == InAssessment::CopyPretest) WriteField(settings, field, settings.*field.copyOf);
    }
}

CourseSettings ApplyOkRules(const SettingsControls& controls) {
    CourseSettings settings;
    // What the click handlers set when the selected radio was clicked.
    for (const SettingsField& field : kFields) {
        if (field.kind != FieldKind::Choice || field.source != ChoiceSource::LastClick) continue;
        for (const FieldValue& value : field.values) {
            if (controls.IsSelected(value.radio)) WriteField(settings, field, value.value);
        }
    }
    ApplyOkRules(controls, settings);
    return settings;
}

std::optional<RefusedOkValue> FindRefusedOkValue(const SettingsControls& controls) {
    for (const SettingsField& field : kFields) {
        // The edit boxes take whatever is pasted and convert it; only a limit of the field's own is enforced.
        if (field.kind != FieldKind::Number || field.batchOnly || field.maximum == kLargestNumber) continue;
        const std::string_view text = controls.EditText(field.control);
        if (text.empty() || ConvertEditText(text) <= field.maximum) continue;
        // Assessment mode relabels the pretest box: name it as the person sees it.
        const std::string_view label = field.control == kPretestScoreEdit && controls.IsSelected(kAssessmentRadio)
                                           ? kAssessmentScoreText
                                           : field.label;
        return RefusedOkValue{&field, "\"" + std::string(label) + "\" holds a pass mark above " +
                                          std::to_string(field.maximum) + ", which LMSs misread. Enter 0 to " +
                                          std::to_string(field.maximum) + ", or leave the box empty for none."};
    }
    return std::nullopt;
}
