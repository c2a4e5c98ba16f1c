#include "app/BatchMain.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/BatchUser.h"
#include "app/InstallStore.h"
#include "app/QuarvelRun.h"
#include "app/StopSignals.h"
#include "app/UndoRun.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/InstallRegistry.h"
#include "platform/Process.h"
#include "settings/SettingsFields.h"
#include "settings/SettingsPairs.h"

#ifndef QUARVEL_VERSION
#error "QUARVEL_VERSION must be defined by the build"
#endif

namespace {

constexpr const char* kProgram = "quarvel-batch";

// The help text and the manual page, as one document.
struct HelpEntry {
    std::string term;
    std::string text;  // paragraphs separated by '\n'
};
struct HelpSection {
    std::string title;     // as the help text heads it
    std::string manTitle;  // as the manual page heads it
    std::size_t column;    // where the help text puts an entry's text
    std::string intro;
    std::vector<HelpEntry> entries;
    std::string outro;
};

constexpr const char* kSynopsis = "[OPTION]... [NAME=VALUE]... [FOLDER]";
constexpr const char* kSummary = "patch e-learning course bundles in place, without a display";

constexpr const char* kDescription =
    "Runs one Quarvel run as the desktop program runs it after OK in its settings\n"
    "dialog, with the same files, run report and patch log: it patches every course\n"
    "bundle below FOLDER; with createVodPackages=true it builds a VOD package for\n"
    "every course video below FOLDER; with updateFromSpreadsheet=true it converts\n"
    "the install folder's spreadsheet export and takes no FOLDER.\n"
    "Each message box is printed to standard output as its caption, \": \" and its\n"
    "text. Errors and a closing summary line go to standard error.";

std::vector<HelpSection> HelpDocument() {
    std::vector<HelpSection> sections;
    sections.push_back({"Options:",
                        "OPTIONS",
                        24,
                        "",
                        {
                            {"    --settings=FILE",
                             "read NAME=VALUE lines from FILE before the command line's (a byte-order mark, "
                             "blank lines and lines starting with '#' are ignored); may be repeated; "
                             "--settings FILE works too"},
                            {"    --make-user-install",
                             "when the install folder cannot be written, make your own install folder "
                             "${XDG_DATA_HOME:-~/.local/share}/quarvel/install from it (copying what a run reads; "
                             "files already there are kept), record it in the per-user store and run with it; "
                             "without this option such a run says so on standard error and goes on"},
                            {"-n, --dry-run",
                             "go through the run without writing anything (no course file, patch log, catalogue, "
                             "store or upload package); print on standard output one line per change it would "
                             "make (create, replace, touch, delete, mkdir or append, and the path), then what it "
                             "would refuse and why, then how many bundles would be patched and files would change; "
                             "the message boxes go to standard error"},
                            {"    --undo[=RUN]",
                             "take back the last run (or run RUN of --list-runs) instead of running a job: the files "
                             "it replaced or deleted get their old content, owner, bits and times back, and the "
                             "files and folders it created are removed; a file changed since the run is left as it "
                             "is and named (exit 3); a \"restored\" section goes to the patch log"},
                            {"    --force", "with --undo, restore files changed since the run too"},
                            {"    --list-runs",
                             "list the runs that can be taken back: number, date, job, starting folder, files "
                             "changed and the size of the record (keepUndoRuns sets how many are kept)"},
                            {"-h, --help", "display this help and exit"},
                            {"    --version", "output version information and exit"},
                            {"    --", "end of options: the next argument is FOLDER"},
                        },
                        ""});

    HelpSection settings{"Settings (NAME=VALUE):",
                         "SETTINGS",
                         46,
                         "A NAME not given leaves its control as the settings dialog opens it.",
                         {},
                         "A NUMBER is 1 to 9 digits and nothing else: a sign, a letter, a blank or a\n"
                         "tenth digit is a bad value, and so is a pass mark above 100. An empty NUMBER\n"
                         "keeps the default. In a settings file, blanks around NAME and VALUE are\n"
                         "ignored."};
    const CourseSettings defaults = ApplyOkRules(SettingsControls{});
    for (const SettingsField& field : SettingsFields()) {
        std::string text = "default " + FieldValueText(defaults, field);
        if (!field.note.empty()) text += "\n" + std::string(field.note);
        settings.entries.push_back({std::string(field.name) + "=" + FieldValueChoices(field), text});
    }
    sections.push_back(std::move(settings));

    std::vector<HelpEntry> stores = {{"$QUARVEL_CONFIG", "when the variable is set"}};
    if (platform::HasInstallRegistry()) {
        stores.push_back({platform::InstallRegistryKeyName(), "otherwise (the registry)"});
    } else {
        stores.push_back({"${XDG_CONFIG_HOME:-~/.config}/quarvel/quarvel.conf", "when the file exists"});
        stores.push_back({"/etc/quarvel.conf", "otherwise"});
    }
    sections.push_back({"Install folder:", "FILES", 52,
                        platform::HasInstallRegistry() ? "The \"NB Path\" value of the first of these stores:"
                                                       : "The \"NB Path\" value of the first of these store files:",
                        stores,
                        "The patch log nb_logfile.txt is in the install folder; with zipPackages=true\n"
                        "the zips go to its folder \"upload packages\", and validatePackages=true checks\n"
                        "against the schemas in its folder \"schemas\"."});

    sections.push_back({"Exit status:",
                        "EXIT STATUS",
                        5,
                        "",
                        {
                            {"0",
                             "the run ran (or ended silently, as at the file-system root) and every "
                             "bundle was patched whole"},
                            {"1", "the run could not start: no usable install folder"},
                            {"2",
                             "bad arguments or settings file, or FOLDER missing or not a folder, or a "
                             "job without its FOLDER; nothing was written"},
                            {"3",
                             "the run ran, but something was not done as asked (a bundle refused, a file "
                             "not written, copied or deleted): the patch log names it; or the patch log "
                             "itself could not be written: standard error says why"},
                        },
                        "SIGINT, SIGTERM and SIGHUP stop the run after the bundle in hand; the patch log\n"
                        "says where, and the exit status is 128 plus the signal's number (130, 143,\n"
                        "129). A second signal ends the run at once."});
    return sections;
}

constexpr std::size_t kHelpWidth = 79;

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

std::string RenderHelp(const std::vector<HelpSection>& sections) {
    std::string out = "Usage: " + std::string(kProgram) + " " + kSynopsis + "\n" + kDescription + "\n";
    for (const HelpSection& section : sections) {
        out += "\n" + section.title + "\n";
        if (!section.intro.empty()) out += section.intro + "\n";
        for (const HelpEntry& entry : section.entries) {
            std::string line = "  " + entry.term;
            // A term too long for its column puts its text on the next line.
            if (line.size() + 2 > section.column) {
                out += line + "\n";
                line.clear();
            }
            // Each paragraph of the text starts a line; words wrap at the width.
            for (const std::string_view paragraph : Split(entry.text, '\n')) {
                for (const std::string_view word : Split(paragraph, ' ')) {
                    if (line.size() > section.column && line.size() + 1 + word.size() > kHelpWidth) {
                        out += line + "\n";
                        line.clear();
                    }
                    if (line.size() < section.column) {
                        line.resize(section.column, ' ');
                    } else {
                        line += ' ';
                    }
                    line += word;
                }
                out += line + "\n";
                line.clear();
            }
        }
        if (!section.outro.empty()) out += section.outro + "\n";
    }
    return out;
}

// Text for roff: backslashes and hyphens escaped, no line starting as a request.
std::string Roff(std::string_view text) {
    std::string out;
    bool lineStart = true;
    for (const char c : text) {
        if (lineStart && (c == '.' || c == '\'')) out += "\\&";
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else if (c == '|') {
            out += "|\\:";  // a long list of values may break after any bar
        } else {
            out += c;
        }
        lineStart = c == '\n';
    }
    return out;
}

std::string Trimmed(std::string_view text) {
    const std::size_t start = text.find_first_not_of(' ');
    return start == std::string_view::npos ? std::string() : std::string(text.substr(start));
}

void Print(const std::string& text) {
    // Write errors on standard output (a reader that went away) are ignored: see RunBatch.
    std::fputs(text.c_str(), stdout);
}

void PrintError(const std::string& problem) {
    std::fprintf(stderr, "%s: %s\n", kProgram, problem.c_str());
}

// Error messages of the command line, and whether one asks for the usage hint.
struct Problems {
    std::vector<std::string> messages;
    bool usage = false;
    int Report() const {
        for (const std::string& message : messages) PrintError(message);
        if (usage) std::fprintf(stderr, "Try '%s --help' for more information.\n", kProgram);
        return 2;
    }
};

std::string Plural(int count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::string BatchHelpText() {
    return RenderHelp(HelpDocument());
}

std::string BatchVersionText() {
    return std::string(kProgram) + " (Quarvel) " + QUARVEL_VERSION + "\n";
}

std::string BatchManPage() {
    std::string out =
        ".TH QUARVEL\\-BATCH 1 \"\" \"Quarvel\" \"User Commands\"\n"
        // Names such as updateFromSpreadsheet=true are not to be hyphenated or stretched.
        ".nh\n.ad l\n.SH NAME\n" +
        Roff(kProgram) + " \\- " + Roff(kSummary) + "\n.SH SYNOPSIS\n.B " + Roff(kProgram) + "\n" + Roff(kSynopsis) +
        "\n.SH DESCRIPTION\n" + Roff(kDescription) + "\n";
    for (const HelpSection& section : HelpDocument()) {
        out += ".SH " + section.manTitle + "\n";
        if (!section.intro.empty()) out += Roff(section.intro) + "\n";
        for (const HelpEntry& entry : section.entries) {
            out += ".TP\n.B " + Roff(Trimmed(entry.term)) + "\n";
            // Each paragraph of the text on a line of its own, as in the help.
            const std::vector<std::string_view> paragraphs = Split(entry.text, '\n');
            for (std::size_t i = 0; i < paragraphs.size(); ++i) {
                if (i > 0) out += ".br\n";
                out += Roff(paragraphs[i]) + "\n";
            }
        }
        if (!section.outro.empty()) out += ".PP\n" + Roff(section.outro) + "\n";
    }
    return out;
}

namespace {

// The command line sorted out, or the text --help or --version asks for.
struct CommandLine {
    std::vector<std::string> settingsFiles;
    std::vector<std::string> pairs;
    std::vector<std::string> folders;
    bool makeUserInstall = false;
    bool preview = false;
    std::optional<std::string> undo;  // the run to take back; empty for the last
    bool listRuns = false;
    bool force = false;
    std::optional<std::string> answer;
};

CommandLine ReadCommandLine(const std::vector<std::string>& args, Problems& problems) {
    CommandLine line;
    bool onlyFolder = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const std::size_t eq = arg.find('=');
        if (onlyFolder) {
            line.folders.push_back(arg);
        } else if (arg == "--help" || arg == "-h") {
            line.answer = BatchHelpText();
            return line;
        } else if (arg == "--version") {
            line.answer = BatchVersionText();
            return line;
        } else if (arg == "--make-user-install") {
            line.makeUserInstall = true;
        } else if (arg == "--dry-run" || arg == "-n") {
            line.preview = true;
        } else if (arg == "--undo" || arg.starts_with("--undo=")) {
            line.undo = eq == std::string::npos ? std::string() : arg.substr(eq + 1);
        } else if (arg == "--list-runs" || arg == "--force") {
            (arg == "--force" ? line.force : line.listRuns) = true;
        } else if (arg == "--") {
            onlyFolder = true;
        } else if (arg == "--settings") {
            if (i + 1 < args.size()) {
                line.settingsFiles.push_back(args[++i]);
            } else {
                problems.messages.push_back("option '--settings' requires a FILE");
                problems.usage = true;
            }
        } else if (arg.starts_with("--settings=")) {
            line.settingsFiles.push_back(arg.substr(eq + 1));
        } else if (arg.size() > 1 && arg[0] == '-') {
            problems.messages.push_back("unknown option '" + arg + "'");
            problems.usage = true;
        } else if (eq != std::string::npos && IsSettingsName(std::string_view(arg).substr(0, eq))) {
            line.pairs.push_back(arg);
        } else if (eq != std::string::npos && !platform::FindFirst(arg)) {
            // Not a folder either: most likely a misspelt name.
            problems.messages.push_back("unknown setting name '" + arg.substr(0, eq) + "'");
        } else {
            line.folders.push_back(arg);
        }
    }
    if (line.folders.size() > 1) {
        problems.messages.push_back("more than one FOLDER given ('" + line.folders[0] + "' and '" + line.folders[1] +
                                    "')");
        problems.usage = true;
    }
    return line;
}

// The controls as the settings files, then the command line's pairs, set them.
SettingsControls ReadSettings(const CommandLine& line, Problems& problems) {
    SettingsControls controls;
    for (const std::string& file : line.settingsFiles) {
        std::error_code ec;
        const auto text = platform::ReadFileBytes(file, ec);
        if (!text) {
            problems.messages.push_back(file + ": cannot read the settings file: " + ec.message());
            continue;
        }
        for (std::string& problem : ApplySettingsText(controls, *text, file)) {
            problems.messages.push_back(std::move(problem));
        }
    }
    for (const std::string& pair : line.pairs) {
        const std::size_t eq = pair.find('=');
        if (std::string problem = ApplySettingsPair(controls, pair.substr(0, eq), pair.substr(eq + 1));
            !problem.empty()) {
            problems.messages.push_back(std::move(problem));
        }
    }
    return controls;
}

enum class Job { Main, Vod, Spreadsheet };

// The folder the job is given, as the folder browser would answer: a full path.
std::optional<std::string> CheckFolder(Job job, const std::vector<std::string>& folders, Problems& problems) {
    if (job == Job::Spreadsheet) {
        if (!folders.empty()) problems.messages.push_back("the spreadsheet job takes no FOLDER");
        return std::nullopt;
    }
    if (folders.empty()) {
        problems.messages.push_back(job == Job::Vod ? "the VOD job needs the VOD content FOLDER"
                                                    : "the main job needs the starting FOLDER");
        problems.usage = true;
        return std::nullopt;
    }
    // The root keeps its "/", and so its silent end.
    const std::string absolute = platform::AbsolutePath(folders.front());
    if (platform::IsDirectory(absolute)) return absolute;
    problems.messages.push_back(folders.front() +
                                (platform::FindFirst(absolute) ? ": FOLDER is not a folder" : ": no such FOLDER"));
    return std::nullopt;
}

std::string SummaryLine(Job job, const RunSummary& summary) {
    // Problems of no bundle in particular, and the stop, come after the bundles' count.
    std::string after =
        summary.otherProblems > 0 ? ", " + Plural(summary.otherProblems, "other problem", "other problems") : "";
    if (summary.stopped) after += ", stopped before the rest";
    // The log is pointed at only when it holds the run's section.
    const std::string log = summary.patchLogProblem.empty() ? "; see " + platform::DisplayPath(summary.patchLog)
                                                            : "; the patch log was not written";
    switch (job) {
        case Job::Main:
            return Plural(summary.bundlesPatched, "bundle", "bundles") + " patched, " +
                   std::to_string(summary.bundlesWithProblems) + " with problems" + after + log;
        case Job::Vod:
            return Plural(summary.bundlesPatched, "VOD package", "VOD packages") + " built in " +
                   platform::DisplayPath(summary.installFolder + "/vod packages") + ", " +
                   std::to_string(summary.bundlesWithProblems) + " with problems" + after +
                   (summary.patchLogProblem.empty() ? "" : log);
        case Job::Spreadsheet:
            return summary.problemNotes > 0 ? "spreadsheet not converted; the message box says why"
                                            : "spreadsheet converted into the description files in " +
                                                  platform::DisplayPath(summary.installFolder);
    }
    return {};
}

// The preview's list, on standard output.
void PrintPreview(Job job, const RunSummary& summary) {
    std::string out;
    for (const std::string& change : summary.changes) out += change + "\n";
    for (const std::string& problem : summary.problems) out += problem;
    if (job != Job::Spreadsheet) {
        out += job == Job::Vod ? Plural(summary.bundlesPatched, "VOD package", "VOD packages") + " would be built, "
                               : Plural(summary.bundlesPatched, "bundle", "bundles") + " would be patched, ";
    }
    out += Plural(summary.filesChanged, "file", "files") + " would change\n";
    Print(out);
}

std::string SizeText(std::uint64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + " B";
    char text[32];
    const double kib = static_cast<double>(bytes) / 1024;
    std::snprintf(text, sizeof text, kib < 1024 ? "%.1f KiB" : "%.1f MiB", kib < 1024 ? kib : kib / 1024);
    return text;
}

// --list-runs and --undo: no job runs, only the install folder is needed.
int RunUndoCommand(const CommandLine& line) {
    if (!line.pairs.empty() || !line.folders.empty() || !line.settingsFiles.empty()) {
        PrintError(std::string(line.listRuns ? "--list-runs" : "--undo") + " takes no settings and no FOLDER");
        return 2;
    }
    if (line.force && !line.undo) {
        PrintError("--force goes with --undo");
        return 2;
    }
    const InstallFolderLookup found = InstallStore::ForPrograms().LookUpInstallFolder();
    if (found.Unreadable() || found.folder.empty()) {
        PrintError("the install folder is not set or cannot be read: its undo records are not known");
        return 1;
    }
    if (line.listRuns) {
        for (const KeptRun& run : ListKeptRuns(found.folder)) {
            char columns[128];
            std::snprintf(columns, sizeof columns, "%-5s %-16s  %-4s %6d %11s  ", run.id.c_str(), run.date.c_str(),
                          run.job.c_str(), run.files, SizeText(run.bytes).c_str());
            Print(columns + platform::DisplayPath(run.folder) + (run.undone ? "  (taken back)" : "") + "\n");
        }
        return 0;
    }
    BatchUser user(CourseSettings{}, std::nullopt, stdout, false, false);
    platform::SystemClock clock;
    UndoResult result;
    if (TakeBackRun(user, clock, found.folder, *line.undo, line.force, false, &result)) return 0;
    if (!result.run) {
        PrintError(result.problem);
        return 2;
    }
    for (const std::string& path : result.refused) PrintError(path + ": changed since the run; left as it is");
    return 3;
}

}  // namespace

int RunBatch(int argc, char** argv) {
    platform::PrepareCommandLineProcess();

    Problems problems;
    const CommandLine line = ReadCommandLine(platform::CommandLineArguments(argc, argv), problems);
    if (line.answer) {
        Print(*line.answer);
        return 0;
    }
    if (line.undo || line.listRuns || line.force) {
        if (line.preview)
            problems.messages.push_back("--dry-run previews a job; it does not go with --undo or --list-runs");
        return problems.messages.empty() ? RunUndoCommand(line) : problems.Report();
    }
    const SettingsControls controls = ReadSettings(line, problems);
    // What FOLDER means depends on the job, which the settings choose.
    if (!problems.messages.empty()) return problems.Report();

    const CourseSettings settings = ApplyOkRules(controls);
    const Job job = settings.createVodPackages       ? Job::Vod
                    : settings.updateFromSpreadsheet ? Job::Spreadsheet
                                                     : Job::Main;
    const std::optional<std::string> folder = CheckFolder(job, line.folders, problems);
    if (!problems.messages.empty()) return problems.Report();
    // An option this build cannot carry out is refused as the dialog refuses it, in a message box.
    if (const std::string refused = RefusedOptionMessage(settings); !refused.empty()) {
        Print("Quarvel: " + refused + "\n");
        PrintError(refused);
        return 2;
    }

    // A preview's standard output is its list; the boxes of a run that did not happen go aside.
    BatchUser user(settings, folder, line.preview ? stderr : stdout, platform::StandardErrorIsTerminal(),
                   line.makeUserInstall && !line.preview);
    platform::SystemClock clock;
    // Ctrl+C, a kill or a closed terminal stop the run between bundles, so
    // that the patch log still says which courses were changed.
    const StopSignals signals;
    QuarvelRun run(user, clock, InstallStore::ForPrograms());
    run.StopWhen([&signals] { return signals.Received() != 0; });
    if (line.preview) run.PreviewOnly();
    if (run.RunSelectedJob() == RunOutcome::NotStarted) {
        PrintError(run.Summary().whyNotStarted);
        return 1;
    }
    const RunSummary summary = run.Summary();
    if (line.preview) PrintPreview(job, summary);
    if (!summary.patchLogProblem.empty()) PrintError(summary.patchLogProblem);
    // A run that ended without a word (the file-system root) gets no summary either.
    if (user.MessagesShown() > 0 && !line.preview) std::fprintf(stderr, "%s\n", SummaryLine(job, summary).c_str());
    if (const int signal = signals.Received()) return 128 + signal;
    return summary.problemNotes > 0 || !summary.patchLogProblem.empty() ? 3 : 0;
}
