#pragma once

#include <system_error>
#include <vector>

#include "platform/FileTransaction.h"
#include "platform/FolderTree.h"

namespace platform {

// One change a commit makes (or is about to make) to a file.
struct PlannedChange {
    FileChange::Kind kind = FileChange::Kind::create;
    Place target;
};

// Keeps what a run changes, so that the run can be taken back: it is told of
// each change before the change is made, while the old file is still there
// to be kept. A failure it returns stops the changes it was told of: a change
// that could not be recorded is not made.
class ChangeRecord {
public:
    virtual ~ChangeRecord() = default;
    // Before a commit puts `changes` in place (their new contents are durable
    // by then); the record of them must be durable when this returns.
    [[nodiscard]] virtual std::error_code BeforeChanges(const std::vector<PlannedChange>& changes) = 0;
    // After: the changes of the last BeforeChanges that were made, in order.
    virtual void AfterChanges(const std::vector<PlannedChange>& made) = 0;
    // Before the folder `place` is created.
    [[nodiscard]] virtual std::error_code BeforeFolderCreated(const Place& place) = 0;
    // Before the read-only state of the file at `place` is cleared.
    [[nodiscard]] virtual std::error_code BeforeModeChanged(const Place& place) = 0;
};

}  // namespace platform
