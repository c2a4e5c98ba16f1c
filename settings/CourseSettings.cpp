#include "settings/CourseSettings.h"

#include <climits>

int ConvertEditText(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\n' || text[pos] == '\v' ||
                                 text[pos] == '\f' || text[pos] == '\r')) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    long long value = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (text[pos] - '0');
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

namespace {
void ReadEdit(const std::string& text, int& field) {
    if (!text.empty()) field = ConvertEditText(text);
}
}  // namespace

CourseSettings ApplyOkRules(const SettingsControls& c) {
    CourseSettings s;
    s.testMode = c.testMode;
    s.allowVideoSkip = c.allowVideoSkip;
    s.showNavBar = c.showNavBar;
    s.accessibilityDefault = c.accessibilityDefault;
    s.certificatePrinting = c.certificatePrinting;
    s.skipCongratsScreen = c.skipCongratsScreen;
    s.isHr = c.isHr;
    s.enableHrSetting = c.enableHrSetting;
    s.packageType = c.packageType == PackageType::Scorm12 ? PackageType::Scorm12 : PackageType::Xapi;
    s.deleteBmp = c.deleteBmp;
    s.updateDescriptionsFromHtml = c.updateDescriptionsFromHtml;
    s.updateFromSpreadsheet = c.updateFromSpreadsheet;
    s.updateDescriptionsInInterfaceXml = c.updateDescriptionsInInterfaceXml;
    s.createVodPackages = c.createVodPackages;
    s.keepDetailedBookmarking = c.keepDetailedBookmarking;
    ReadEdit(c.courseTimeout, s.courseTimeout);
    ReadEdit(c.pretestPassingScore, s.pretestPassingScore);
    ReadEdit(c.pretestQuestionCount, s.pretestQuestionCount);
    ReadEdit(c.posttestPassingScore, s.posttestPassingScore);
    ReadEdit(c.posttestQuestionCount, s.posttestQuestionCount);
    ReadEdit(c.posttestRetakeCount, s.posttestRetakeCount);
    if (c.assessmentRadioSelected) {
        s.posttestQuestionCount = s.pretestQuestionCount;
        s.posttestPassingScore = s.pretestPassingScore;
        s.assessmentAutoSkip = c.assessmentAutoSkip;
    }
    switch (c.exitStatus) {
        case ExitStatusMode::CompletedIncomplete:
        case ExitStatusMode::PassedIncomplete:
        case ExitStatusMode::PassedNoPosttest:
            s.exitStatusMode = c.exitStatus;
            break;
        case ExitStatusMode::ScormConformant:
            s.exitStatusMode = ExitStatusMode::ScormConformant;
            break;
    }
    s.fullScreenAtStartup = c.fullScreenAtStartup ? "full screen" : "normal";
    s.enableReverse = false;
    return s;
}
