#include "World.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/FileSystem.h"
#include "platform/LockedAppend.h"

extern char** environ;

namespace {
// These suites copy libraries over and over: keep them in memory when the
// machine has a RAM disk.
const bool g_ramDisk = [] {
    if (std::getenv("TMPDIR") == nullptr && fs::is_directory("/dev/shm")) ::setenv("TMPDIR", "/dev/shm", 1);
    return true;
}();
}  // namespace

Snapshot TakeSnapshot(const fs::path& root) {
    Snapshot files;
    for (const auto& [path, bytes] : SnapshotTree(root)) files[path] = bytes;
    return files;
}

bool IsTempLitter(const std::string& relativePath) {
    const std::string name = fs::path(relativePath).filename().string();
    return platform::IsSafeReplaceTempName(name) || platform::IsAppendJournalName(name);
}

std::vector<char*> EnvironmentWithStore(const fs::path& config, std::string& configVar) {
    configVar = "QUARVEL_CONFIG=" + config.string();
    std::vector<char*> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::string(*e).rfind("QUARVEL_CONFIG=", 0) != 0) env.push_back(*e);
    }
    env.push_back(configVar.data());
    env.push_back(nullptr);
    return env;
}

BatchRun RunBatch(const fs::path& config, const std::vector<std::string>& args, long killAfterMicroseconds,
                  const std::vector<std::string>& wrapper, const fs::path& program) {
    std::vector<std::string> words = wrapper;
    words.push_back(program.string());
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::string configVar;
    std::vector<char*> env = EnvironmentWithStore(config, configVar);

    const fs::path outFile = config.parent_path() / "batch-output.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    BatchRun run;
    if (spawned != 0) return run;
    if (killAfterMicroseconds >= 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(killAfterMicroseconds));
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.output = ReadBytes(outFile);
    return run;
}

std::pair<int, long> RunBatchMeasured(const fs::path& config, const std::vector<std::string>& args) {
    if (!fs::exists("/usr/bin/time")) return {RunBatch(config, args).exitCode, 0};
    const fs::path peakFile = config.parent_path() / "peak.txt";
    const BatchRun run = RunBatch(config, args, -1, {"/usr/bin/time", "-f", "%M", "-o", peakFile.string()});
    return {run.exitCode, std::atol(ReadBytes(peakFile).c_str())};
}

std::vector<std::string> CompareWithBeforeAndAfter(const Snapshot& before, const Snapshot& after, const Snapshot& now,
                                                   const std::vector<std::string>& skip) {
    std::vector<std::string> problems;
    const auto skipped = [&](const std::string& path) {
        for (const std::string& s : skip) {
            if (path == s) return true;
        }
        return false;
    };
    for (const auto& [path, bytes] : now) {
        if (IsTempLitter(path) || skipped(path)) continue;
        const auto b = before.find(path);
        const auto a = after.find(path);
        const bool asBefore = b != before.end() && b->second == bytes;
        const bool asAfter = a != after.end() && a->second == bytes;
        if (!asBefore && !asAfter) problems.push_back("changed to neither old nor new bytes: " + path);
    }
    for (const auto& [path, bytes] : before) {
        if (skipped(path) || now.count(path) != 0) continue;
        if (after.count(path) != 0) problems.push_back("lost: " + path);
    }
    return problems;
}

std::string MaskLogStamps(std::string log) {
    // "updated " in UTF-16LE, then 16 characters of date stamp.
    const std::string marker("u\0p\0d\0a\0t\0e\0d\0 \0", 16);
    for (std::size_t pos = log.find(marker); pos != std::string::npos; pos = log.find(marker, pos + 1)) {
        const std::size_t stamp = pos + marker.size();
        for (std::size_t i = stamp; i < stamp + 32 && i < log.size(); ++i) log[i] = '#';
    }
    return log;
}

void CopyTree(const fs::path& from, const fs::path& to) {
    fs::remove_all(to);
    fs::create_directories(to.parent_path());
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}
