#include "app/BatchMain.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/BatchUser.h"
#include "app/InstallStore.h"
#include "app/QuarvelRun.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "settings/SettingsPairs.h"

namespace {

constexpr const char* kUsage =
    "usage: quarvel-batch [--settings FILE] [NAME=VALUE ...] [--] [FOLDER]\n"
    "Runs one Quarvel run without a display. FOLDER is the starting course folder\n"
    "(or the VOD content folder); the spreadsheet job takes none. NAME is a course\n"
    "settings field, for example testMode=Assessment packageType=Xapi courseTimeout=90.\n";

int Refuse(const std::string& problem) {
    std::fprintf(stderr, "quarvel-batch: %s\n", problem.c_str());
    return 2;
}

}  // namespace

int RunBatch(int argc, char** argv) {
    std::vector<std::string> settingsFiles;
    std::vector<std::string> pairs;
    std::optional<std::string> folder;
    bool onlyFolder = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!onlyFolder && (arg == "--help" || arg == "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (!onlyFolder && arg == "--") {
            onlyFolder = true;
        } else if (!onlyFolder && arg == "--settings") {
            if (i + 1 >= argc) return Refuse("--settings needs a FILE");
            settingsFiles.emplace_back(argv[++i]);
        } else if (!onlyFolder && arg.rfind("--", 0) == 0) {
            return Refuse("unknown option '" + arg + "'\n" + kUsage);
        } else if (!onlyFolder && arg.find('=') != std::string::npos &&
                   IsSettingsName(std::string_view(arg).substr(0, arg.find('=')))) {
            pairs.push_back(arg);
        } else if (!onlyFolder && arg.find('=') != std::string::npos && !platform::FindFirst(arg)) {
            return Refuse("unknown setting name '" + arg.substr(0, arg.find('=')) + "'");
        } else if (folder) {
            return Refuse("more than one FOLDER given ('" + *folder + "' and '" + arg + "')");
        } else {
            folder = arg;
        }
    }

    SettingsControls controls;
    for (const std::string& file : settingsFiles) {
        std::error_code ec;
        const auto text = platform::ReadFileBytes(file, ec);
        if (!text) return Refuse("cannot read settings file '" + file + "': " + ec.message());
        if (std::string problem = ApplySettingsText(controls, *text, file); !problem.empty()) return Refuse(problem);
    }
    for (const std::string& pair : pairs) {
        const std::size_t eq = pair.find('=');
        if (std::string problem = ApplySettingsPair(controls, pair.substr(0, eq), pair.substr(eq + 1));
            !problem.empty()) {
            return Refuse(problem);
        }
    }
    const CourseSettings settings = ApplyOkRules(controls);
    const bool spreadsheetJob = !settings.createVodPackages && settings.updateFromSpreadsheet;
    if (spreadsheetJob && folder) return Refuse("the spreadsheet job takes no FOLDER");
    if (!spreadsheetJob && !folder) {
        return Refuse(settings.createVodPackages ? "the VOD job needs the VOD content FOLDER"
                                                 : "the main job needs the starting FOLDER");
    }
    if (folder) {
        // The folder browser answers with a full path; the root keeps its "/".
        folder = platform::AbsolutePath(*folder);
    }

    // Past a file-size limit a write should fail with EFBIG like any other
    // write error, not end the run halfway.
    std::signal(SIGXFSZ, SIG_IGN);

    BatchUser user(settings, folder, stdout, ::isatty(STDERR_FILENO) != 0);
    platform::SystemClock clock;
    QuarvelRun run(user, clock, InstallStore(InstallStore::DefaultPath()));
    return run.RunSelectedJob() == RunOutcome::Ran ? 0 : 1;
}
