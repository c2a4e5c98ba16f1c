#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileSystem.h"

// Folder listings kept between calls, so that looking names up regardless of
// letter case does not read a folder again for every file written into it.
// A listing is trusted while the folder's inode and last-write time stay as
// they were when it was read; the changes this program makes itself are
// applied to it as they happen. Internal to platform/.
namespace platform::listings {

struct Listing;

// The entries of `folder`, sorted in listing order; nothing when it cannot be listed.
const std::vector<DirEntry>* List(const std::string& folder);

// The entry whose name equals `name` but for letter case (the first in
// listing order), or an empty text.
std::string FindNameIgnoringCase(const std::string& folder, std::string_view name);
// As FindNameIgnoringCase; nothing when `folder` is not a folder that can be listed.
std::optional<std::string> LookUpNameIgnoringCase(const std::string& folder, std::string_view name);

// Brackets one change this program makes to a folder's entries: construct it
// before the change, then report what changed.
//
// While a ChangeBatch is open, changes made one after another to one folder
// look at the folder once before the first and once after the last, not
// around each: a commit puts dozens of files into each folder in a row.
class FolderChange {
public:
    explicit FolderChange(std::string folder);
    void Added(std::string_view name, bool isDirectory);
    void Removed(std::string_view name);
    // The change failed or did something unknown: read the folder afresh next time.
    void Forget();

private:
    // The folder's kept listing with its new time stamp, or nothing when there
    // is none to keep up to date.
    Listing* Restamped();

    std::string m_folder;
    bool m_wasCurrent = false;
};

// Groups the FolderChanges of its lifetime as above. One at a time.
class ChangeBatch {
public:
    ChangeBatch();
    ~ChangeBatch();
    ChangeBatch(const ChangeBatch&) = delete;
    ChangeBatch& operator=(const ChangeBatch&) = delete;
};

}  // namespace platform::listings
