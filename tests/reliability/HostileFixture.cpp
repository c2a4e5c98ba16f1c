#include "HostileFixture.h"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/Text.h"

int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::string& text) {
    std::string out = "'";
    for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

namespace {

EntryState ReadEntry(const fs::path& path) {
    struct stat st {};
    EntryState entry;
    if (::lstat(path.c_str(), &st) != 0) return entry;
    entry.mode = st.st_mode & 07777;
    switch (st.st_mode & S_IFMT) {
        case S_IFREG:
            entry.kind = 'f';
            if ((st.st_mode & S_IRUSR) != 0 || ::geteuid() == 0) entry.content = ReadBytes(path);
            break;
        case S_IFDIR:
            entry.kind = 'd';
            break;
        case S_IFLNK:
            entry.kind = 'l';
            entry.content = fs::read_symlink(path).string();
            break;
        case S_IFIFO:
            entry.kind = 'p';
            break;
        case S_IFCHR:
            entry.kind = 'c';
            break;
        case S_IFBLK:
            entry.kind = 'b';
            break;
        default:
            entry.kind = 's';
    }
    return entry;
}

void ReadTreeInto(const fs::path& root, const std::string& relative, const std::set<std::string>& skip,
                  TreeState& state) {
    const fs::path path = relative.empty() ? root : root / relative;
    const EntryState entry = ReadEntry(path);
    state[relative] = entry;
    if (entry.kind != 'd') return;
    std::error_code ec;
    for (const auto& child : fs::directory_iterator(path, ec)) {
        const std::string name = child.path().filename().string();
        const std::string childRelative = relative.empty() ? name : relative + "/" + name;
        if (skip.count(childRelative) == 0) ReadTreeInto(root, childRelative, skip, state);
    }
}

}  // namespace

TreeState ReadTreeState(const fs::path& root, const std::set<std::string>& skip) {
    TreeState state;
    ReadTreeInto(root, "", skip, state);
    return state;
}

std::set<std::string> ChangedPaths(const TreeState& before, const TreeState& after) {
    std::set<std::string> changed;
    for (const auto& [path, entry] : after) {
        const auto old = before.find(path);
        if (old == before.end() || old->second.kind != entry.kind || old->second.content != entry.content)
            changed.insert(path);
    }
    for (const auto& [path, entry] : before) {
        if (after.count(path) == 0) changed.insert(path);
    }
    return changed;
}

std::vector<std::string> DescribeChanges(const TreeState& before, const TreeState& after) {
    std::vector<std::string> lines;
    for (const auto& [path, entry] : after) {
        const auto old = before.find(path);
        if (old == before.end()) {
            lines.push_back("created: '" + path + "' (" + entry.kind + ")");
        } else if (!(old->second == entry)) {
            lines.push_back("changed: '" + path + "' (" + old->second.kind + " -> " + entry.kind + ")");
        }
    }
    for (const auto& [path, entry] : before) {
        if (after.count(path) == 0) lines.push_back("deleted: '" + path + "'");
    }
    return lines;
}

LimitedRun RunLimited(const fs::path& config, const std::vector<std::string>& args, const RunLimits& limits) {
    const fs::path peakFile = config.parent_path() / "peak.txt";
    fs::remove(peakFile);
    std::vector<std::string> wrapper = {"/usr/bin/time", "-f", "%M", "-o", peakFile.string()};
    wrapper.insert(wrapper.end(), limits.asUser.begin(), limits.asUser.end());
    if (limits.addressSpaceBytes > 0 || limits.fileSizeBytes > 0) {
        wrapper.push_back("prlimit");
        if (limits.addressSpaceBytes > 0) wrapper.push_back("--as=" + std::to_string(limits.addressSpaceBytes));
        if (limits.fileSizeBytes > 0) wrapper.push_back("--fsize=" + std::to_string(limits.fileSizeBytes));
    }
    for (const char* word : {"timeout", "-s", "KILL"}) wrapper.push_back(word);
    wrapper.push_back(std::to_string(limits.seconds));
    // The build folder may sit in a clone only root can enter (CI makes it
    // with mktemp -d), so another user runs a copy kept in the test folder.
    fs::path program = QUARVEL_BATCH;
    if (!limits.asUser.empty()) {
        program = config.parent_path() / "quarvel-batch-copy";
        fs::copy_file(QUARVEL_BATCH, program, fs::copy_options::overwrite_existing);
        fs::permissions(program, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);
    }
    const BatchRun run = RunBatch(config, args, -1, wrapper, program);
    LimitedRun result;
    result.exitCode = run.exitCode;
    result.output = run.output;
    // /usr/bin/time writes "Command terminated by signal N" before the figure.
    const std::string peak = ReadBytes(peakFile);
    const std::size_t line = peak.find_last_of('\n', peak.size() >= 2 ? peak.size() - 2 : 0);
    result.peakKb = std::atol(peak.c_str() + (line == std::string::npos || line + 1 >= peak.size() ? 0 : line + 1));
    return result;
}

std::string ReadLogText(const fs::path& log) {
    std::error_code ec;
    if (!fs::is_regular_file(log, ec)) return {};
    const std::string bytes = ReadBytes(log);
    std::string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char32_t unit = static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
            const char32_t low =
                static_cast<unsigned char>(bytes[i + 2]) | (static_cast<unsigned char>(bytes[i + 3]) << 8);
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        if (unit == 0xFEFF) continue;
        platform::AppendUtf8(text, unit);
    }
    return text;
}

namespace {
std::string CommandProblems(const std::string& command, const fs::path& output) {
    if (Shell(command + " > " + Quote(output.string()) + " 2>&1") == 0) return {};
    const std::string said = ReadBytes(output);
    return said.empty() ? "failed: " + command : said;
}
}  // namespace

std::string XmlProblems(const fs::path& file) {
    if (!fs::is_regular_file(file)) return "missing: " + file.string();
    return CommandProblems("xmllint --noout " + Quote(file.string()), fs::path(file).concat(".lint"));
}

std::string ScriptProblems(const std::vector<fs::path>& pages) {
    std::string problems;
    std::string files;
    std::vector<fs::path> scripts;
    for (const fs::path& page : pages) {
        if (!fs::is_regular_file(page)) {
            problems += "missing: " + page.string() + "\n";
            continue;
        }
        const std::string html = ReadBytes(page);
        for (std::size_t open = html.find("<script"); open != std::string::npos; open = html.find("<script", open)) {
            const std::size_t start = html.find('>', open);
            const std::size_t end = start == std::string::npos ? start : html.find("</script", start);
            if (end == std::string::npos) {
                problems += "unterminated script element: " + page.string() + "\n";
                break;
            }
            const std::string text = html.substr(start + 1, end - start - 1);
            // "<!--" followed by "<script" changes where an HTML parser ends the element.
            if (Holds(text, "<!--")) problems += "'<!--' in a script of " + page.string() + "\n";
            scripts.push_back(fs::path(page).concat(".script" + std::to_string(scripts.size()) + ".js"));
            WriteBytes(scripts.back(), text);
            files += " " + Quote(scripts.back().string());
            open = end;
        }
    }
    if (!scripts.empty()) {
        // One node for all of them: compiling a script checks its syntax as a
        // page's script element would, without running it.
        const std::string check =
            "const vm = require('vm'), fs = require('fs'); let bad = 0;"
            "for (const f of process.argv.slice(1)) {"
            "  try { new vm.Script(fs.readFileSync(f, 'utf8'), {filename: f}); }"
            "  catch (e) { bad = 1; console.log(f + ': ' + e.message); } }"
            "process.exit(bad);";
        const fs::path out = fs::path(scripts.front()).concat(".out");
        problems += CommandProblems("node -e " + Quote(check) + files, out);
        fs::remove(out);
    }
    for (const fs::path& script : scripts) fs::remove(script);
    return problems;
}

void MakeSmallInstallation(const fs::path& install) {
    courselib::GenerateInstallation(install);
    const fs::path web = install / "web";
    for (const char* name : {"player.js", "menu.js", "quiz.js", "video.js", "glossary.js", "print.js"})
        fs::remove(web / "scripts" / name);
    for (int i = 1; i < 18; ++i) {
        fs::remove(web / "controls" / ("style" + std::to_string(i) + ".css"));
        fs::remove(web / "controls" / ("button" + std::to_string(i) + ".png"));
        fs::remove(web / "controls" / "images" / ("ui-icon" + std::to_string(i) + ".png"));
    }
}

void HostileTest::SetUp() {
    TempDirTest::SetUp();
    MakeSmallInstallation(install());
    config = dir() / "quarvel.conf";
    WriteBytes(config, "NB Path=" + install().string() + "\n");
    fs::create_directories(courses());
}

TreeState HostileTest::StateExcept(std::set<std::string> skip) const {
    skip.insert("batch-output.txt");
    skip.insert("peak.txt");
    skip.insert("quarvel-batch-copy");
    skip.insert("install/undo runs");  // each run's own undo record: the undo tests judge it
    return ReadTreeState(dir(), skip);
}
