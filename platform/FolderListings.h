#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileSystem.h"

namespace platform {
class HeldFolder;
}

// Folder listings kept between calls, so that looking names up regardless of
// letter case does not read a folder again for every file written into it.
// A listing is trusted while the folder's identity and last-write time stay
// as they were when it was read; the changes this program makes itself are
// applied to it as they happen. Listings are kept by the folder's path, the
// same for a folder reached by its path or held open. Internal to platform/.
namespace platform::listings {

struct Listing;

// The entries of `folder`, sorted in listing order; nothing when it cannot be listed.
const std::vector<DirEntry>* List(const std::string& folder);
const std::vector<DirEntry>* List(const HeldFolder& folder);

// The entry whose name equals `name` but for letter case (the first in
// listing order), or an empty text.
std::string FindNameIgnoringCase(const std::string& folder, std::string_view name);
// As FindNameIgnoringCase; nothing when `folder` is not a folder that can be listed.
std::optional<std::string> LookUpNameIgnoringCase(const std::string& folder, std::string_view name);
std::optional<std::string> LookUpNameIgnoringCase(const HeldFolder& folder, std::string_view name);

// Groups the folder changes made during its lifetime: changes made one after
// another to one folder look at the folder once before the first and once
// after the last, not around each (a commit puts dozens of files into each
// folder in a row).
class ChangeBatch {
public:
    ChangeBatch() = default;
    ~ChangeBatch();
    ChangeBatch(const ChangeBatch&) = delete;
    ChangeBatch& operator=(const ChangeBatch&) = delete;

private:
    friend class FolderChange;
    // Ends the changes to the folder in hand.
    void Settle();

    const HeldFolder* m_held = nullptr;  // the folder in hand, when it was reached held
    std::string m_folder;                // its path; empty when none is in hand
    bool m_wasCurrent = false;           // its listing was current before the first change
    bool m_changed = false;              // a change was made since it was looked at
};

// Brackets one change this program makes to a folder's entries: construct it
// before the change, then report what changed. `batch` may be null.
class FolderChange {
public:
    explicit FolderChange(std::string folder, ChangeBatch* batch = nullptr);
    explicit FolderChange(const HeldFolder& folder, ChangeBatch* batch = nullptr);
    void Added(std::string_view name, bool isDirectory);
    void Removed(std::string_view name);
    // The change failed or did something unknown: read the folder afresh next time.
    void Forget();

private:
    void Begin();
    // The folder's kept listing with its new time stamp, or nothing when there
    // is none to keep up to date.
    Listing* Restamped();

    std::string m_folder;
    const HeldFolder* m_held = nullptr;
    ChangeBatch* m_batch;
    bool m_wasCurrent = false;
};

}  // namespace platform::listings
