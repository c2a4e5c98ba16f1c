#pragma once

#include <cstdint>
#include <optional>
#include <system_error>

#include "platform/FolderTree.h"

namespace platform {

// The user and group a file or folder belongs to.
struct FileOwner {
    std::uint32_t user = 0;
    std::uint32_t group = 0;
    bool operator==(const FileOwner&) const = default;
};

// Who may read an open file: its owner and its permission bits.
struct FileAccess {
    FileOwner owner;
    std::uint32_t mode = 0;  // the permission bits (07777)
};

// The owner of a held folder; nothing where the system has no such owners.
std::optional<FileOwner> OwnerOf(const HeldFolder& folder);
// Whether the run acts as `owner`'s user already.
bool RunsAs(const FileOwner& owner);
// The owner and bits of an open file; nothing where the system has none.
std::optional<FileAccess> AccessOf(const ReadableFile& file);

// Whether `owner`'s user (with the groups the user database gives them, or
// `owner.group` alone when it does not know them) could open the file at
// `place` for reading, and it is the file `file` has open. The file is opened
// as that user, without following a link at its end, on a short-lived thread
// of its own: only that thread ever takes their identity, and it ends with
// it, so no other part of the run acts as them. Where the run may not act as
// another user (not root), the answer is whether the run could open it
// itself; where the system has no such users, true.
bool OwnerCanRead(const FileOwner& owner, const Place& place, const ReadableFile& file);

// Gives the open `file` the bits `mode` and, where `owner` is set and
// differs and the run may give files away (root), that owner; the file is
// reached through its descriptor, no name.
[[nodiscard]] std::error_code GiveTo(const ReadableFile& file, const std::optional<FileOwner>& owner,
                                     std::uint32_t mode);

}  // namespace platform
