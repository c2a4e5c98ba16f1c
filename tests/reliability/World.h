#pragma once

#include <map>
#include <string>
#include <vector>

#include "support/TestSupport.h"

// A course library with its installation, the batch program run over it, and
// the checks that no file was lost or half-written.
using Snapshot = std::map<std::string, std::string>;  // relative path -> bytes

Snapshot TakeSnapshot(const fs::path& root);
bool IsTempLitter(const std::string& relativePath);

struct BatchRun {
    int exitCode = -1;   // -1 when killed
    std::string output;  // standard output
};

// This process's environment with QUARVEL_CONFIG naming `config`, for execve;
// `configVar` holds the new entry's text and must outlive the result.
std::vector<char*> EnvironmentWithStore(const fs::path& config, std::string& configVar);

// Starts quarvel-batch with `args` under the store file `config`; when
// `killAfterMicroseconds` is set, kills it with SIGKILL after that long.
// `program` replaces the built program, e.g. by a copy another user may run.
BatchRun RunBatch(const fs::path& config, const std::vector<std::string>& args, long killAfterMicroseconds = -1,
                  const std::vector<std::string>& wrapper = {}, const fs::path& program = QUARVEL_BATCH);

// Every file of `now` equals its bytes in `before` or in `after` (temporary
// litter aside); every file of `before` missing from `now` is missing from
// `after` too. Returns the problems found.
std::vector<std::string> CompareWithBeforeAndAfter(const Snapshot& before, const Snapshot& after, const Snapshot& now,
                                                   const std::vector<std::string>& skip = {});

// RunBatch under /usr/bin/time: the exit status and the program's peak
// resident memory in kilobytes (0 when /usr/bin/time is missing).
std::pair<int, long> RunBatchMeasured(const fs::path& config, const std::vector<std::string>& args);

// The patch log with each date stamp blanked, so runs in other minutes compare.
std::string MaskLogStamps(std::string utf16Log);

void CopyTree(const fs::path& from, const fs::path& to);
