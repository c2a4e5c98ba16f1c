#pragma once

#include <sys/stat.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "CourseLibrary.h"
#include "World.h"

// Hostile trees and inputs: a small installation, a folder of courses, and
// decoy folders beside them that links may point into. Runs end under a
// timeout; the state of everything outside what a run may write is compared
// before and after.

// One entry of a tree as lstat sees it: type, permission bits, and the bytes
// of a file or the target of a link (links are never followed).
struct EntryState {
    char kind = '?';  // f file, d folder, l link, p FIFO, c/b device, s socket
    unsigned mode = 0;
    std::string content;
    bool operator==(const EntryState&) const = default;
};
using TreeState = std::map<std::string, EntryState>;  // path below the root -> state

// Every entry below `root` (the root itself as ""), skipping the relative
// paths in `skip` and everything below them.
TreeState ReadTreeState(const fs::path& root, const std::set<std::string>& skip = {});
// One line per entry that differs; empty when the states are equal.
std::vector<std::string> DescribeChanges(const TreeState& before, const TreeState& after);

// Paths (relative) that were created, deleted or whose bytes or type changed
// from `before` to `after`.
std::set<std::string> ChangedPaths(const TreeState& before, const TreeState& after);

struct LimitedRun {
    int exitCode = -1;  // 137 when the time ran out, 128 + N after signal N
    std::string output;
    long peakKb = 0;  // peak resident memory of the program
    // Ended by itself with one of its own statuses (not killed, not aborted).
    bool ended() const { return exitCode >= 0 && exitCode <= 3; }
};

struct RunLimits {
    // Long enough for a loaded machine: only a run that never ends may reach it.
    int seconds = 180;
    long addressSpaceBytes = 0;       // 0: no limit
    long fileSizeBytes = 0;           // 0: no limit
    std::vector<std::string> asUser;  // a wrapper that runs the program as another user
};
inline RunLimits MemoryLimits(long addressSpaceBytes, long fileSizeBytes = 0) {
    RunLimits limits;
    limits.addressSpaceBytes = addressSpaceBytes;
    limits.fileSizeBytes = fileSizeBytes;
    return limits;
}
// As the ordinary user "nobody", for the runs where root's rights would hide the problem.
inline RunLimits AsNobody() {
    RunLimits limits;
    limits.asUser = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    return limits;
}

// quarvel-batch under `timeout -s KILL`, /usr/bin/time and the given limits.
LimitedRun RunLimited(const fs::path& config, const std::vector<std::string>& args, const RunLimits& limits = {});

// The patch log (UTF-16LE) as UTF-8; empty when it is missing.
std::string ReadLogText(const fs::path& log);

// xmllint --noout; empty when well-formed, else what xmllint said.
std::string XmlProblems(const fs::path& file);
// The text of each script element of the HTML pages compiled by node; empty
// when every script parses, else what node said.
std::string ScriptProblems(const std::vector<fs::path>& pages);

// A trimmed installation: the template folder with one file per pattern the
// asset copy and the VOD builder use, so that runs over it stay fast.
void MakeSmallInstallation(const fs::path& install);

inline bool Holds(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Runs a shell command line; its exit status.
int Shell(const std::string& command);
std::string Quote(const std::string& text);

class HostileTest : public TempDirTest {
protected:
    void SetUp() override;
    fs::path install() const { return dir() / "install"; }
    fs::path courses() const { return dir() / "courses"; }
    std::string Log() const { return ReadLogText(install() / "nb_logfile.txt"); }
    // State of everything in the test folder except the harness's own files
    // and the given relative paths.
    TreeState StateExcept(std::set<std::string> skip) const;
    fs::path config;
};
