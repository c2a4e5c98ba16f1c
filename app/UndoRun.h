#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/UserInterface.h"
#include "platform/Clock.h"

// A run whose undo record is kept, as --list-runs shows it.
struct KeptRun {
    std::string id;
    std::string date;  // local time, "YYYY-MM-DD HH:MM"
    std::string job;   // "main" or "vod"
    std::string folder;
    int files = 0;            // files the run changed, created or deleted
    std::uint64_t bytes = 0;  // what the record holds
    bool undone = false;      // taken back since
};
// The runs this user can take back with `installFolder`, oldest first.
std::vector<KeptRun> ListKeptRuns(const std::string& installFolder);

// What taking a run back did.
struct UndoResult {
    std::optional<KeptRun> run;  // nothing when there was no such run (`problem` says why)
    std::string problem;
    int restored = 0;  // files given back their old content, bits or times
    int removed = 0;   // files the run created, deleted
    int folders = 0;   // folders the run created, removed
    int appendsCut = 0;
    std::vector<std::string> refused;  // files changed since the run, left as they are
    std::vector<std::string> notes;    // every line for the patch log, restored files included
    bool Whole() const { return run && refused.empty() && failures == 0; }
    int failures = 0;  // notes of what could not be done
};

// Takes back the kept run `id` (the last one when empty): every file it
// replaced or deleted gets its old content, owner, bits and times back in
// one durable transaction, the files and folders it created are removed (a
// folder only when empty), its appends are cut while they are still their
// file's tail. A file changed since the run is refused and named, unless
// `force`. Undo can run again after an interruption: what is back already
// stays. `progress` is told of each file.
UndoResult UndoRun(const std::string& installFolder, const std::string& id, bool force,
                   const std::function<void(int done, const std::string& path)>& progress = {});

// The person's side of it: asks first when `ask` is set (naming the run),
// shows the progress, appends a "restored" section to the patch log, and
// says what was restored in a message box. False when there was nothing to
// take back, the person said No, or something was not restored.
bool TakeBackRun(UserInterface& ui, const platform::Clock& clock, const std::string& installFolder,
                 const std::string& id, bool force, bool ask, UndoResult* result = nullptr);
