#include <unistd.h>

#include <string>

#include "FuzzTarget.h"
#include "app/QuarvelRun.h"
#include "bundle/SettingsFile.h"
#include "platform/Text.h"

namespace {

class SilentUser : public UserInterface {
public:
    std::optional<CourseSettings> ChooseSettings() override { return std::nullopt; }
    std::optional<std::string> ChooseFolder(const std::string&, const std::string&) override { return std::nullopt; }
    void ShowMessage(const std::string&, const std::string&, MessageStyle) override {}
};

}  // namespace

// The rewrite of one settings file, with options taken from the input's first byte.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const std::string path = "/tmp/quarvel-fuzz-rewrite-" + std::to_string(::getpid()) + ".xml";
    const std::uint8_t options = data[0];
    const SettingsLines read = ReadSettingsLines(AsText(data + 1, size - 1));
    if (!read.isUtf8 || !read.header) return 0;
    SilentUser user;
    platform::SystemClock clock;
    QuarvelRun run(user, clock, InstallStore("/nonexistent/quarvel.conf"));
    run.settings.testMode = (options & 1) ? TestMode::Assessment : TestMode::Pretest;
    run.settings.enableHrSetting = (options & 2) != 0;
    run.settings.isHr = (options & 4) != 0;
    run.settings.updateDescriptionsFromHtml = (options & 8) != 0;
    run.settings.pretestPassingScore = (options & 16) ? 70 : -1;
    run.settings.fullScreenAtStartup = (options & 32) ? "full screen" : "normal";
    run.record.courseID = (options & 64) ? "abc_vid_1" : "course_adl_1";
    if (options & 128) run.descriptionCatalogue.push_back({"course_int_1", "<p>x</p>"});
    run.RewriteInterfaceXml(*read.header, read.lines, path);
    FUZZ_CHECK(platform::IsValidUtf8(run.record.WebTitle) && platform::IsValidUtf8(run.record.WebDescription));
    return 0;
}
